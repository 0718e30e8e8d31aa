#pragma once

#include "base/Error.h"
#include "platform/SampleBuffer.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tandem {

struct AudioOutputDevice {
    uint32_t id = 0; // valid while the device stays attached
    std::string uid; // stable
    std::string name;

    bool operator==(const AudioOutputDevice&) const = default;
};

// Plays buffers one after the other on one output, in one format at a time.
class AudioPlayer {
public:
    virtual ~AudioPlayer() = default;

    // Starts playing float buffers of this rate and channel count; a running player is restarted.
    virtual Result<void> start(double rate, int channels) = 0;
    // Queues a buffer of the started format; `played` is called once it has been played (or dropped
    // by stop), on a thread of the player's.
    virtual void schedule(const SampleBuffer& buffer, std::function<void()> played) = 0;
    // Safe twice.
    virtual void stop() = 0;
};

class AudioOutputs {
public:
    virtual ~AudioOutputs() = default;

    // Every device that can play sound; empty when the list cannot be read.
    virtual std::vector<AudioOutputDevice> devices() = 0;
    // A player on the device with that id, or on the default output.
    virtual std::unique_ptr<AudioPlayer> makePlayer(std::optional<uint32_t> device) = 0;
};

} // namespace tandem
