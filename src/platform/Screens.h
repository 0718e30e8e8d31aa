#pragma once

#include "base/Queue.h"
#include "platform/Geometry.h"
#include "platform/Observation.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tandem {

// One screen as the window system describes it. Frames are in global coordinates (origin at the
// bottom-left of the first screen, y up).
struct Screen {
    Rect frame;
    Rect visibleFrame; // less the menu bar and the Dock
    std::string name;  // the localized name
    // The display number ("NSScreenNumber"): stable for one display while it stays attached.
    std::optional<uint32_t> number;
    // The display's UUID in the standard upper-case form, when the system knows one.
    std::optional<std::string> uuid;

    bool operator==(const Screen&) const = default;
};

class Screens {
public:
    virtual ~Screens() = default;

    // The current screens; the first is the one with the menu bar.
    virtual std::vector<Screen> screens() = 0;
    // Called on `queue` after the screen configuration changed, until the token is destroyed.
    virtual ObservationToken observeChanges(std::shared_ptr<Queue> queue, std::function<void()> handler) = 0;
};

// A screen's rectangle in display coordinates (origin at the top-left of the first screen, y down).
// With no first screen, the screen's own frame stands in for it.
inline Rect displayRect(const Rect& frame, const std::vector<Screen>& screens) {
    double firstMaxY = screens.empty() ? frame.maxY() : screens.front().frame.maxY();
    return {frame.minX(), firstMaxY - frame.maxY(), frame.width, frame.height};
}

} // namespace tandem
