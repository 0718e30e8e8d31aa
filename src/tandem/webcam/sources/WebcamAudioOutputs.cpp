#include "tandem/webcam/sources/WebcamAudioOutputs.h"

namespace tandem::WebcamAudioOutputs {

std::vector<std::pair<std::string, std::string>> all(AudioOutputs& outputs) {
    std::vector<std::pair<std::string, std::string>> list;
    for (const AudioOutputDevice& device : outputs.devices())
        list.emplace_back(device.uid, device.name);
    return list;
}

std::optional<uint32_t> id(AudioOutputs& outputs, const std::string& uid) {
    for (const AudioOutputDevice& device : outputs.devices()) {
        if (device.uid == uid) return device.id;
    }
    return std::nullopt;
}

} // namespace tandem::WebcamAudioOutputs
