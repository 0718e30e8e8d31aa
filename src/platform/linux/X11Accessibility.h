#pragma once

#include "platform/Accessibility.h"
#include "platform/linux/X11Connection.h"

#include <map>
#include <string>

namespace tandem {

// Accessibility over an X server and EWMH. An application element stands for a process; its
// "AXWindows" are the process's top-level client windows (by _NET_WM_PID), front to back, and
// "AXTitle" its process name. A window element reads "AXTitle" (_NET_WM_NAME, else WM_NAME),
// "AXPosition" (Point: the frame's top-left in display coordinates), "AXSize" (Size: the frame's,
// decorations included) and "AXFullScreen" (bool), and takes "AXPosition", "AXSize" and
// "AXFullScreen". With a window manager the changes are EWMH requests (_NET_MOVERESIZE_WINDOW,
// _NET_WM_STATE) that it carries out in its own time; without one the window is moved and resized
// directly, and full screen means covering the monitor under the window's centre, the earlier frame
// remembered here for leaving it. "AXFullScreenButton" cannot be read and "AXPress" fails: X windows
// have no such button.
//
// Trusted means an X server could be reached: X has no permission to ask for. Without one every
// read gives nothing and every change fails.
class X11Accessibility final : public Accessibility {
public:
    // `display` as Xlib takes it; empty: $DISPLAY.
    explicit X11Accessibility(std::string display = {});

    bool isProcessTrusted(bool prompt) override;
    AXElement applicationElement(int32_t processIdentifier) override;
    std::optional<AXValue> attribute(AXElement element, const std::string& name) override;
    bool setAttribute(AXElement element, const std::string& name, const AXValue& value) override;
    bool performAction(AXElement element, const std::string& action) override;

private:
    x11::Connection connection;
    // Windows made full screen here without a window manager: their frames before, root coordinates.
    struct Frame {
        double x, y, width, height;
    };
    std::map<unsigned long, Frame> restore;
};

} // namespace tandem
