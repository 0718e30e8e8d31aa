#pragma once

#include "platform/WindowServer.h"
#include "platform/linux/X11Connection.h"

#include <string>

namespace tandem {

// The window list of an X server. With a window manager that keeps _NET_CLIENT_LIST_STACKING the list
// is its managed windows (unmanaged menus and tooltips are not in it); without one, the viewable
// children of the root. Each window's number is its X window id (the client's, inside a frame),
// its bounds the frame with decorations in display coordinates, its owner _NET_WM_PID.
//
// Layers follow CoreGraphics' levels, from EWMH's window type (the first one known) and state:
// desktop far below everything, _NET_WM_STATE_BELOW -1, normal, dialog, utility, toolbar and splash
// windows 0, _NET_WM_STATE_ABOVE 3 (floating), docks 20, notifications 25, menus (and unmanaged
// windows without a type) 101, tooltips 200, drag and drop 500. Full-screen windows stay at 0.
//
// Without an X server the list is empty.
class X11WindowServer final : public WindowServer {
public:
    // `display` as Xlib takes it; empty: $DISPLAY.
    explicit X11WindowServer(std::string display = {});

    std::vector<WindowInfo> onScreenWindows() override;

private:
    x11::Connection connection;
};

} // namespace tandem
