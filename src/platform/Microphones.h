#pragma once

#include "base/Error.h"
#include "base/Queue.h"
#include "platform/Cameras.h"
#include "platform/SampleBuffer.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tandem {

struct AudioInputDevice {
    std::string uniqueID;
    std::string name;

    bool operator==(const AudioInputDevice&) const = default;
};

// One opened sound input. Its buffers are 32-bit float, interleaved, 48 kHz stereo, stamped on the
// host clock (the adapter converts from the device's own clock).
class Microphone {
public:
    virtual ~Microphone() = default;
    virtual void start() = 0;
    // Safe twice; after it returns no buffer arrives.
    virtual void stop() = 0;
};

class Microphones {
public:
    virtual ~Microphones() = default;

    virtual std::vector<AudioInputDevice> devices() = 0;
    // `onAudio` is called on `queue` with every buffer. Failures carry MediaFailure codes.
    virtual Result<std::shared_ptr<Microphone>> open(const AudioInputDevice& device,
                                                     std::shared_ptr<Queue> queue,
                                                     std::function<void(const SampleBuffer&)> onAudio) = 0;
};

} // namespace tandem
