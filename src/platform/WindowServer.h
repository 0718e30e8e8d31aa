#pragma once

#include "platform/Geometry.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace tandem {

// One on-screen window as the window server lists it. Any value may be missing.
struct WindowInfo {
    std::optional<int32_t> ownerProcessIdentifier;
    std::optional<int> layer;   // 0 = normal windows
    std::optional<Rect> bounds; // display coordinates (origin top-left of the first screen, y down)
    uint32_t number = 0;

    bool operator==(const WindowInfo&) const = default;
};

class WindowServer {
public:
    virtual ~WindowServer() = default;

    // Every window on screen, front to back.
    virtual std::vector<WindowInfo> onScreenWindows() = 0;
};

} // namespace tandem
