#include "platform/sim/SimAudioDevices.h"

#include <algorithm>

namespace tandem {

SimAudioDevices::SimAudioDevices() {
    add("MacBook Pro Speakers", 48000);
}

uint32_t SimAudioDevices::add(const std::string& name, double nominalSampleRate) {
    uint32_t id;
    {
        std::lock_guard guard(lock);
        id = nextId++;
        list.push_back({id, name, true, false, nominalSampleRate});
    }
    listChanges.post();
    return id;
}

bool SimAudioDevices::remove(uint32_t id) {
    bool removed;
    {
        std::lock_guard guard(lock);
        removed = std::erase_if(list, [&](const AudioDevice& device) { return device.id == id; }) > 0;
    }
    if (removed) listChanges.post();
    return removed;
}

template <class F> void SimAudioDevices::change(uint32_t id, AudioDeviceProperty property, F&& apply) {
    {
        std::lock_guard guard(lock);
        auto found = std::find_if(list.begin(), list.end(), [&](const AudioDevice& d) { return d.id == id; });
        if (found == list.end()) return;
        AudioDevice before = *found;
        apply(*found);
        if (before == *found) return;
    }
    propertyChanges.post(id, property);
}

void SimAudioDevices::setAlive(uint32_t id, bool alive) {
    change(id, AudioDeviceProperty::alive, [&](AudioDevice& device) { device.alive = alive; });
}

void SimAudioDevices::setRunningSomewhere(uint32_t id, bool running) {
    change(id, AudioDeviceProperty::runningSomewhere,
           [&](AudioDevice& device) { device.runningSomewhere = running; });
}

void SimAudioDevices::setNominalSampleRate(uint32_t id, double rate) {
    change(id, AudioDeviceProperty::nominalSampleRate,
           [&](AudioDevice& device) { device.nominalSampleRate = rate; });
}

std::vector<AudioDevice> SimAudioDevices::devices() {
    std::lock_guard guard(lock);
    return list;
}

std::optional<AudioDevice> SimAudioDevices::device(uint32_t id) {
    std::lock_guard guard(lock);
    for (const AudioDevice& device : list) {
        if (device.id == id) return device;
    }
    return std::nullopt;
}

ObservationToken SimAudioDevices::observeDevices(std::shared_ptr<Queue> queue,
                                                 std::function<void()> handler) {
    return listChanges.add(std::move(queue), std::move(handler));
}

ObservationToken SimAudioDevices::observeDevice(uint32_t id, AudioDeviceProperty property,
                                                std::shared_ptr<Queue> queue, std::function<void()> handler) {
    return propertyChanges.add(std::move(queue), [id, property, handler = std::move(handler)](
                                                     uint32_t changed, AudioDeviceProperty which) {
        if (changed == id && which == property) handler();
    });
}

} // namespace tandem
