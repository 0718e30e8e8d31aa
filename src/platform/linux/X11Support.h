#pragma once

// What the X11 adapters share: connections, EWMH properties, the top-level window list and the
// screen layout. Only the adapters' sources (and their tests) include this, as it brings in Xlib.

#include "platform/Geometry.h"
#include "platform/linux/X11Connection.h"

#include <X11/Xlib.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tandem::x11 {

// Opens a connection (`name` empty: $DISPLAY) after setting Xlib up for threads and replacing its
// default error handler, which would end the process on a request about a window that just closed.
// nullptr when there is no server.
Display* open(const std::string& name);

Atom atom(Display* display, const char* name);

// A property of 32-bit items (CARDINAL, WINDOW, ATOM), as Xlib hands them over (one long each).
// Empty when the window or the property is missing or has another type. `type` AnyPropertyType: any.
std::vector<unsigned long> longs(Display* display, Window window, Atom property, Atom type);
// _NET_WM_NAME (UTF-8), else WM_NAME (Latin-1 converted to UTF-8).
std::optional<std::string> title(Display* display, Window window);
// _NET_WM_PID.
std::optional<int32_t> processIdentifier(Display* display, Window window);
// The names of atoms held by a property (window types, states), for matching by name.
std::vector<std::string> atomNames(Display* display, Window window, const char* property);

// Whether a window manager answers: _NET_SUPPORTING_WM_CHECK names a window that names itself.
bool hasWindowManager(Display* display);

// A top-level window: the client window an application made and, when a window manager that does
// not speak EWMH framed it, that frame (else the client itself).
struct TopLevel {
    Window client = 0;
    Window frame = 0;
};
// The viewable top-level windows, front to back. With a window manager that keeps
// _NET_CLIENT_LIST_STACKING, its managed clients (`hidden`: also those it keeps unmapped, minimized or
// on another desktop); else the root's children.
std::vector<TopLevel> topLevels(Display* display, bool hidden = false);
// The process's top-level client windows, front to back, menus and tooltips left out.
std::vector<Window> windowsOf(Display* display, int32_t processIdentifier, bool hidden = false);

// The frame of a top-level window in root coordinates: the client with its border and the window
// manager's decorations (_NET_FRAME_EXTENTS), or the non-EWMH frame window.
std::optional<Rect> frame(Display* display, const TopLevel& window);
// left, right, top, bottom.
std::array<long, 4> frameExtents(Display* display, Window client);

// One RandR output as the layout rules see it: its id and, when it shows something, its CRTC's
// rectangle in root coordinates.
struct Output {
    unsigned long id = 0;
    std::optional<Rect> area;
};
// The first screen: the primary output when it shows something, else the first output that does.
std::optional<Rect> primaryArea(const std::vector<Output>& outputs, unsigned long primary);
// Root coordinates of the first screen's top-left: display coordinates are root coordinates less
// this. (0, 0) without RandR.
Point primaryOrigin(Display* display);
// The rectangles of the outputs that show something, in root coordinates; the root window when
// RandR says nothing.
std::vector<Rect> monitors(Display* display);

// The window with the input: _NET_ACTIVE_WINDOW with a window manager, else the focus window's
// top-level ancestor.
std::optional<Window> activeWindow(Display* display);

// Sends an EWMH client message about `window` to the root window, as a pager would.
bool sendToRoot(Display* display, Window window, const char* type, std::array<long, 5> data);

// The layer a window stands on, in CoreGraphics' window levels: 0 for normal windows, negative
// below them, positive above. `types` and `states` are the atom names of _NET_WM_WINDOW_TYPE and
// _NET_WM_STATE.
int layer(const std::vector<std::string>& types, const std::vector<std::string>& states,
          bool overrideRedirect);

} // namespace tandem::x11
