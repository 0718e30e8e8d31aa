#pragma once

#include "platform/Displays.h"

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <span>

typedef struct _XDisplay Display;

namespace tandem {

// The vendor and model numbers Core Graphics reads from a display's EDID: the packed manufacturer id
// (bytes 8-9, big-endian) and the product code (bytes 10-11, little-endian). Nothing for a block that
// is no EDID.
struct EdidNumbers {
    uint32_t vendor = 0;
    uint32_t model = 0;
    bool operator==(const EdidNumbers&) const = default;
};
std::optional<EdidNumbers> edidNumbers(std::span<const uint8_t> edid);

// The display list of this machine: XRandR's outputs with their EDID when an X server answers (online
// when connected, active when they drive a CRTC, main for the primary output); without one, the
// connected connectors of /sys/class/drm (active when enabled, at the origin, none main). No display
// at all is an empty list.
class LinuxDisplays final : public Displays {
public:
    explicit LinuxDisplays(std::filesystem::path sys = "/sys");
    ~LinuxDisplays() override;
    LinuxDisplays(const LinuxDisplays&) = delete;
    LinuxDisplays& operator=(const LinuxDisplays&) = delete;

    std::vector<DisplayInfo> displays() override;

    // The DRM part alone, for its tests.
    std::vector<DisplayInfo> drmDisplays();

private:
    std::vector<DisplayInfo> xrandrDisplays();

    std::filesystem::path sys;
    std::mutex lock;
    ::Display* x = nullptr;
    bool triedX = false;
};

} // namespace tandem
