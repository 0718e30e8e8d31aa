#include "tandem/webcam/studio/WebcamDevices.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>

namespace tandem::WebcamDevices {

int rank(const CameraDevice& device) {
    std::string name = device.name;
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    static const std::array<const char*, 5> virtualNames{"virtual", "obs", "ndi", "camo", "snap camera"};
    for (const char* word : virtualNames)
        if (name.find(word) != std::string::npos) return 3;
    return device.kind == CameraKind::builtInWideAngle ? 2 : 0;
}

std::vector<CameraDevice> cameras(Cameras& cameras) {
    std::vector<CameraDevice> list = cameras.devices();
    std::stable_sort(list.begin(), list.end(),
                     [](const CameraDevice& a, const CameraDevice& b) { return rank(a) < rank(b); });
    return list;
}

std::vector<AudioInputDevice> microphones(Microphones& microphones) {
    return microphones.devices();
}

} // namespace tandem::WebcamDevices
