#include "platform/linux/X11WindowServer.h"

#include "platform/linux/X11Support.h"

namespace tandem {

X11WindowServer::X11WindowServer(std::string display)
    : connection(std::move(display)) {}

std::vector<WindowInfo> X11WindowServer::onScreenWindows() {
    std::vector<WindowInfo> windows;
    auto use = connection.use();
    if (!use) return windows;
    Display* display = use.display;
    const Point origin = x11::primaryOrigin(display);
    for (const x11::TopLevel& window : x11::topLevels(display)) {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(display, window.client, &attributes)) continue; // closed meanwhile
        WindowInfo info;
        info.number = uint32_t(window.client);
        info.ownerProcessIdentifier = x11::processIdentifier(display, window.client);
        info.layer =
            x11::layer(x11::atomNames(display, window.client, "_NET_WM_WINDOW_TYPE"),
                       x11::atomNames(display, window.client, "_NET_WM_STATE"), attributes.override_redirect);
        if (auto frame = x11::frame(display, window))
            info.bounds = Rect{frame->x - origin.x, frame->y - origin.y, frame->width, frame->height};
        windows.push_back(info);
    }
    return windows;
}

} // namespace tandem
