#pragma once

#include "platform/AudioDevices.h"
#include "platform/sim/SimNotices.h"

#include <mutex>

namespace tandem {

// The system's audio devices, simulated: the Mac's built-in output is always there; tests and
// simulated peers add, change and remove devices, and every change is announced as CoreAudio's
// property listeners hear it.
class SimAudioDevices final : public AudioDevices {
public:
    SimAudioDevices();

    // Adds a device (alive, not running) and gives its id.
    uint32_t add(const std::string& name, double nominalSampleRate = 44100);
    bool remove(uint32_t id);
    void setAlive(uint32_t id, bool alive);
    void setRunningSomewhere(uint32_t id, bool running);
    void setNominalSampleRate(uint32_t id, double rate);

    std::vector<AudioDevice> devices() override;
    std::optional<AudioDevice> device(uint32_t id) override;
    ObservationToken observeDevices(std::shared_ptr<Queue> queue, std::function<void()> handler) override;
    ObservationToken observeDevice(uint32_t id, AudioDeviceProperty property, std::shared_ptr<Queue> queue,
                                   std::function<void()> handler) override;

private:
    template <class F> void change(uint32_t id, AudioDeviceProperty property, F&& apply);

    std::mutex lock;
    std::vector<AudioDevice> list;
    uint32_t nextId = 40;
    SimNotices<> listChanges;
    SimNotices<uint32_t, AudioDeviceProperty> propertyChanges;
};

} // namespace tandem
