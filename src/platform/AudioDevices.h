#pragma once

#include "base/Queue.h"
#include "platform/Observation.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tandem {

// One audio device as the system audio object describes it. Ids are never 0.
struct AudioDevice {
    uint32_t id = 0;
    std::string name;
    bool alive = false;            // kAudioDevicePropertyDeviceIsAlive
    bool runningSomewhere = false; // kAudioDevicePropertyDeviceIsRunningSomewhere
    double nominalSampleRate = 0;  // kAudioDevicePropertyNominalSampleRate, in Hz
    bool operator==(const AudioDevice&) const = default;
};

// The properties of one device whose changes can be listened to.
enum class AudioDeviceProperty { alive, runningSomewhere, nominalSampleRate };

class AudioDevices {
public:
    virtual ~AudioDevices() = default;

    // The devices in the system's order (kAudioHardwarePropertyDevices); none without audio.
    virtual std::vector<AudioDevice> devices() = 0;
    // One device as it is now; nothing when it is gone.
    virtual std::optional<AudioDevice> device(uint32_t id) = 0;
    // The device list changed. Called on `queue` until the token is destroyed.
    virtual ObservationToken observeDevices(std::shared_ptr<Queue> queue, std::function<void()> handler) = 0;
    // One property of one device changed. Called on `queue` until the token is destroyed.
    virtual ObservationToken observeDevice(uint32_t id, AudioDeviceProperty property,
                                           std::shared_ptr<Queue> queue, std::function<void()> handler) = 0;
};

} // namespace tandem
