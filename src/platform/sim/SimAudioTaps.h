#pragma once

#include "base/Clock.h"
#include "platform/AudioTap.h"
#include "platform/sim/SimMedia.h"

#include <memory>
#include <mutex>
#include <vector>

namespace tandem {

// Simulated process taps in virtual time: every 10 ms a tap renders its process's sound since the
// last cycle (48 kHz stereo float, planar as a Mac's tap delivers it unless `interleaved`), hands it
// to the cycle on the tap queue, and plays what comes back (LISTEN) or silence. A process is tapped
// only once the sound system has heard it.
class SimAudioTaps final : public AudioTaps {
public:
    SimAudioTaps(Clock& clock, std::shared_ptr<Queue> queue);

    void addSound(SimProcessSound& sound);

    bool interleaved = false;
    // The next open fails this way (once).
    std::optional<AudioTapFailure> failNext;

    // What the listen output was given, cycle by cycle, across all taps (silence included).
    std::vector<SampleBuffer> output();
    // Processes silenced by a LISTEN tap now.
    std::vector<int32_t> muted();
    int running();

    Result<std::shared_ptr<AudioTapSession>> open(const AudioTapRequest& request, Cycle cycle) override;

    struct Shared;

private:
    std::shared_ptr<Shared> shared;
};

} // namespace tandem
