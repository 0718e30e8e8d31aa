#include "platform/linux/X11Accessibility.h"

#include "platform/linux/X11Support.h"

#include <X11/Xatom.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <fstream>

namespace tandem {

namespace {

// An element's kind in its top byte; the low 32 bits hold the process or the window.
constexpr uint64_t applicationKind = uint64_t(1) << 56;
constexpr uint64_t windowKind = uint64_t(2) << 56;
constexpr uint64_t kindMask = uint64_t(0xFF) << 56;

AXElement windowElement(Window window) {
    return {windowKind | uint64_t(uint32_t(window))};
}

bool processExists(int32_t pid) {
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

std::optional<std::string> processName(int32_t pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    if (!std::getline(comm, name)) return std::nullopt;
    return name;
}

// The window as the window list has it, so a frame of a window manager without EWMH counts.
x11::TopLevel topLevel(Display* display, Window window) {
    if (!x11::hasWindowManager(display)) {
        for (const x11::TopLevel& entry : x11::topLevels(display)) {
            if (entry.client == window) return entry;
        }
    }
    return {window, window};
}

// What the frame adds to the client's own size (border and decorations).
std::optional<Size> decorations(Display* display, const x11::TopLevel& window, const Rect& frame) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window.client, &attributes)) return std::nullopt;
    return Size{frame.width - attributes.width, frame.height - attributes.height};
}

bool fullScreenState(Display* display, Window window) {
    Atom fullScreen = x11::atom(display, "_NET_WM_STATE_FULLSCREEN");
    auto states = x11::longs(display, window, x11::atom(display, "_NET_WM_STATE"), XA_ATOM);
    return std::find(states.begin(), states.end(), fullScreen) != states.end();
}

Rect monitorUnder(Display* display, const Rect& frame) {
    auto monitors = x11::monitors(display);
    Point centre{frame.midX(), frame.midY()};
    for (const Rect& monitor : monitors) {
        if (monitor.contains(centre)) return monitor;
    }
    // A centre off every monitor: the one sharing the most of the frame, else the first.
    const Rect* best = &monitors.front();
    double bestArea = 0;
    for (const Rect& monitor : monitors) {
        double w = std::min(frame.maxX(), monitor.maxX()) - std::max(frame.minX(), monitor.minX());
        double h = std::min(frame.maxY(), monitor.maxY()) - std::max(frame.minY(), monitor.minY());
        if (w > 0 && h > 0 && w * h > bestArea) {
            bestArea = w * h;
            best = &monitor;
        }
    }
    return *best;
}

// EWMH: 1 = north-west gravity (x and y are the frame's top-left), bits 8–11 which values count,
// 2 << 12 a request on the user's behalf (as a pager makes it).
constexpr long moveResizeFlags(bool position, bool size) {
    return 1 | (position ? (1 << 8) | (1 << 9) : 0) | (size ? (1 << 10) | (1 << 11) : 0) | (2 << 12);
}

long whole(double value) {
    return std::lround(value);
}

} // namespace

X11Accessibility::X11Accessibility(std::string display)
    : connection(std::move(display)) {}

bool X11Accessibility::isProcessTrusted(bool) {
    return bool(connection.use());
}

AXElement X11Accessibility::applicationElement(int32_t processIdentifier) {
    if (processIdentifier <= 0) return {};
    return {applicationKind | uint64_t(uint32_t(processIdentifier))};
}

std::optional<AXValue> X11Accessibility::attribute(AXElement element, const std::string& name) {
    auto use = connection.use();
    if (!use) return std::nullopt;
    Display* display = use.display;
    const uint32_t low = uint32_t(element.id);
    if ((element.id & kindMask) == applicationKind) {
        const auto pid = int32_t(low);
        if (!processExists(pid)) return std::nullopt;
        if (name == "AXWindows") {
            std::vector<AXElement> windows;
            for (Window window : x11::windowsOf(display, pid))
                windows.push_back(windowElement(window));
            return windows;
        }
        if (name == "AXTitle") {
            if (auto title = processName(pid)) return *title;
        }
        return std::nullopt;
    }
    if ((element.id & kindMask) != windowKind) return std::nullopt;
    const Window window = low;
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes)) {
        restore.erase(window);
        return std::nullopt;
    }
    if (name == "AXTitle") return x11::title(display, window).value_or("");
    if (name == "AXPosition" || name == "AXSize" || name == "AXFullScreen") {
        auto frame = x11::frame(display, topLevel(display, window));
        if (!frame) return std::nullopt;
        if (name == "AXFullScreen") {
            if (fullScreenState(display, window)) return true;
            // Without a window manager, full screen is what was made here and still covers its monitor.
            return restore.count(window) > 0 && *frame == monitorUnder(display, *frame);
        }
        if (name == "AXSize") return frame->size();
        Point origin = x11::primaryOrigin(display);
        return Point{frame->x - origin.x, frame->y - origin.y};
    }
    return std::nullopt;
}

bool X11Accessibility::setAttribute(AXElement element, const std::string& name, const AXValue& value) {
    if ((element.id & kindMask) != windowKind) return false;
    auto use = connection.use();
    if (!use) return false;
    Display* display = use.display;
    const Window window = uint32_t(element.id);
    const x11::TopLevel entry = topLevel(display, window);
    auto frame = x11::frame(display, entry);
    if (!frame) return false; // closed
    const bool managed = x11::hasWindowManager(display);

    if (name == "AXPosition") {
        const Point* point = std::get_if<Point>(&value);
        if (!point) return false;
        Point origin = x11::primaryOrigin(display);
        long x = whole(point->x + origin.x), y = whole(point->y + origin.y);
        if (managed)
            return x11::sendToRoot(display, window, "_NET_MOVERESIZE_WINDOW",
                                   {moveResizeFlags(true, false), x, y, 0, 0});
        // North-west gravity: the position asked for is the frame's top-left, with or without a frame.
        XMoveWindow(display, window, int(x), int(y));
        XSync(display, False);
        return true;
    }
    if (name == "AXSize") {
        const Size* size = std::get_if<Size>(&value);
        if (!size) return false;
        auto extra = decorations(display, entry, *frame);
        if (!extra) return false;
        long width = whole(size->width - extra->width), height = whole(size->height - extra->height);
        if (width < 1 || height < 1) return false;
        if (managed)
            return x11::sendToRoot(display, window, "_NET_MOVERESIZE_WINDOW",
                                   {moveResizeFlags(false, true), 0, 0, width, height});
        XResizeWindow(display, window, unsigned(width), unsigned(height));
        XSync(display, False);
        return true;
    }
    if (name == "AXFullScreen") {
        const bool* on = std::get_if<bool>(&value);
        if (!on) return false;
        if (managed) {
            return x11::sendToRoot(
                display, window, "_NET_WM_STATE",
                {*on ? 1 : 0, long(x11::atom(display, "_NET_WM_STATE_FULLSCREEN")), 0, 2, 0});
        }
        auto extra = decorations(display, entry, *frame);
        if (!extra) return false;
        auto remembered = restore.find(window);
        Rect target;
        if (*on) {
            target = monitorUnder(display, *frame);
            if (remembered == restore.end())
                restore[window] = {frame->x, frame->y, frame->width, frame->height};
            XRaiseWindow(display, window);
        } else {
            if (remembered == restore.end()) return true; // not full screen: nothing to leave
            target = {remembered->second.x, remembered->second.y, remembered->second.width,
                      remembered->second.height};
            restore.erase(remembered);
        }
        long width = std::max(1L, whole(target.width - extra->width));
        long height = std::max(1L, whole(target.height - extra->height));
        XMoveResizeWindow(display, window, int(whole(target.x)), int(whole(target.y)), unsigned(width),
                          unsigned(height));
        XSync(display, False);
        return true;
    }
    return false;
}

bool X11Accessibility::performAction(AXElement, const std::string&) {
    return false;
}

} // namespace tandem
