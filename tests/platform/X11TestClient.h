#pragma once

// The tests' own X client: windows standing in for Koala's, the test's view of the events they get,
// and waiting for what the server or a window manager does in its own time. Include after gtest
// and Qt, as Xlib defines macros (None, Bool, Status) that their headers use as names.

#include "platform/Geometry.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tandem::testing {

// Polls `condition` until it holds or `seconds` pass; true when it held.
template <class F> bool eventually(F condition, double seconds = 5) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

class XClient {
public:
    explicit XClient(const char* name = nullptr)
        : display(XOpenDisplay(name)) {}
    ~XClient() {
        if (display) XCloseDisplay(display);
    }
    XClient(const XClient&) = delete;
    XClient& operator=(const XClient&) = delete;

    explicit operator bool() const { return display != nullptr; }
    Window root() const { return DefaultRootWindow(display); }
    Atom atom(const char* name) const { return XInternAtom(display, name, False); }

    // A top-level window at `frame` (root coordinates), unmapped, owned by `pid` when given.
    Window create(Rect frame, const std::string& title, std::optional<int32_t> pid, long events = 0,
                  unsigned border = 0, bool overrideRedirect = false) {
        XSetWindowAttributes attributes{};
        attributes.event_mask = events | StructureNotifyMask;
        attributes.override_redirect = overrideRedirect;
        attributes.background_pixel = WhitePixel(display, DefaultScreen(display));
        Window window =
            XCreateWindow(display, root(), int(frame.x), int(frame.y), unsigned(frame.width),
                          unsigned(frame.height), border, CopyFromParent, InputOutput, CopyFromParent,
                          CWEventMask | CWOverrideRedirect | CWBackPixel, &attributes);
        // Ask window managers to keep the place asked for, as an application restoring its frame does.
        XSizeHints hints{};
        hints.flags = USPosition | USSize;
        hints.x = int(frame.x);
        hints.y = int(frame.y);
        hints.width = int(frame.width);
        hints.height = int(frame.height);
        XSetWMNormalHints(display, window, &hints);
        if (!title.empty()) {
            XChangeProperty(display, window, atom("_NET_WM_NAME"), atom("UTF8_STRING"), 8, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(title.data()), int(title.size()));
        }
        if (pid) {
            long value = *pid;
            XChangeProperty(display, window, atom("_NET_WM_PID"), XA_CARDINAL, 32, PropModeReplace,
                            reinterpret_cast<unsigned char*>(&value), 1);
        }
        XSync(display, False);
        return window;
    }

    void setAtoms(Window window, const char* property, std::initializer_list<const char*> names) {
        std::vector<long> values;
        for (const char* name : names)
            values.push_back(long(atom(name)));
        XChangeProperty(display, window, atom(property), XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(values.data()), int(values.size()));
        XSync(display, False);
    }

    // Maps the window and waits until the server shows it.
    bool map(Window window) {
        XMapWindow(display, window);
        XSync(display, False);
        return eventually([&] {
            XWindowAttributes attributes;
            return XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable;
        });
    }

    // The next event of that type for the window, within `seconds`.
    std::optional<XEvent> next(Window window, int type, double seconds = 5) {
        std::optional<XEvent> found;
        eventually(
            [&] {
                XEvent event;
                if (XCheckTypedWindowEvent(display, window, type, &event)) found = event;
                return found.has_value();
            },
            seconds);
        return found;
    }

    // The window's outer top-left in root coordinates and its inner size.
    Rect geometry(Window window) {
        XWindowAttributes attributes{};
        XGetWindowAttributes(display, window, &attributes);
        int x = 0, y = 0;
        Window child = 0;
        XTranslateCoordinates(display, window, root(), 0, 0, &x, &y, &child);
        return {double(x - attributes.border_width), double(y - attributes.border_width),
                double(attributes.width), double(attributes.height)};
    }

    Display* display;
};

// Whether an X server answers on $DISPLAY; the tests that need one assert what happens without one
// when it does not.
inline bool haveDisplay() {
    XClient probe;
    return bool(probe);
}

} // namespace tandem::testing
