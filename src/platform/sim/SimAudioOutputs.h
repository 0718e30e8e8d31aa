#pragma once

#include "base/Clock.h"
#include "base/Queue.h"
#include "platform/AudioOutputs.h"

#include <mutex>
#include <vector>

namespace tandem {

// Simulated output devices in virtual time: a player plays its queued buffers one after another,
// each taking its duration, unless `stalled` (a device that has stopped taking sound).
class SimAudioOutputs final : public AudioOutputs {
public:
    SimAudioOutputs(Clock& clock, std::shared_ptr<Queue> queue);

    void add(const AudioOutputDevice& device);
    void remove(const std::string& uid);
    void setStalled(bool stalled);
    void setUnreadable(bool unreadable);

    // Buffers played to the end, per device id (0 = the default output).
    size_t played(uint32_t device);
    // Players started and not stopped, per device id.
    int running(uint32_t device);

    std::vector<AudioOutputDevice> devices() override;
    std::unique_ptr<AudioPlayer> makePlayer(std::optional<uint32_t> device) override;

    struct Shared;

private:
    std::shared_ptr<Shared> shared;
};

} // namespace tandem
