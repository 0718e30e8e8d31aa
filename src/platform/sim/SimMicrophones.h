#pragma once

#include "base/Clock.h"
#include "platform/Microphones.h"

#include <mutex>
#include <vector>

namespace tandem {

// Simulated microphones in virtual time: a started one delivers 10 ms buffers (48 kHz stereo float,
// interleaved) of a 440 Hz tone at a quarter of full scale, stamped on the host clock.
class SimMicrophones final : public Microphones {
public:
    enum class Behaviour { ready, inUse, denied, unreadable };

    explicit SimMicrophones(Clock& clock);

    void add(const AudioInputDevice& device, Behaviour behaviour = Behaviour::ready);
    void remove(const std::string& uniqueID);
    int running();

    std::vector<AudioInputDevice> devices() override;
    Result<std::shared_ptr<Microphone>> open(const AudioInputDevice& device, std::shared_ptr<Queue> queue,
                                             std::function<void(const SampleBuffer&)> onAudio) override;

    struct Shared;

private:
    std::shared_ptr<Shared> shared;
};

} // namespace tandem
