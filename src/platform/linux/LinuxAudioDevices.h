#pragma once

#include "platform/AudioDevices.h"

#include <filesystem>
#include <string>

namespace tandem {

// The sound cards of /proc/asound as audio devices: card N is device N + 1 (ids are never 0), named
// by its long name in "cards"; alive while listed; running somewhere while one of its PCM substreams
// is RUNNING; its rate is that of an open substream ("hw_params"), else 0. Nothing notifies changes,
// so every observation polls once a second on its own queue. No /proc/asound is no devices.
class LinuxAudioDevices final : public AudioDevices {
public:
    explicit LinuxAudioDevices(std::filesystem::path asound = "/proc/asound")
        : asound(std::move(asound)) {}

    std::vector<AudioDevice> devices() override;
    std::optional<AudioDevice> device(uint32_t id) override;
    ObservationToken observeDevices(std::shared_ptr<Queue> queue, std::function<void()> handler) override;
    ObservationToken observeDevice(uint32_t id, AudioDeviceProperty property, std::shared_ptr<Queue> queue,
                                   std::function<void()> handler) override;

private:
    std::filesystem::path asound;
};

// The cards of an asound "cards" text: number and long name (the part after " - " of the first line).
std::vector<std::pair<int, std::string>> parseAsoundCards(const std::string& text);

} // namespace tandem
