#include "platform/linux/X11Support.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>

namespace tandem::x11 {

namespace {

// Requests about windows that close meanwhile fail with BadWindow; each caller sees the failure in
// the request's own result, so the error itself is only dropped.
int ignoreError(Display*, XErrorEvent*) {
    return 0;
}

template <class T> struct XFreeDeleter {
    void operator()(T* p) const {
        if (p) XFree(p);
    }
};

struct Property {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    std::unique_ptr<unsigned char, XFreeDeleter<unsigned char>> data;
};

std::optional<Property> readProperty(Display* display, Window window, Atom property, Atom type) {
    Property result;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    // 1 << 20 longs: far more than any property read here holds.
    if (XGetWindowProperty(display, window, property, 0, 1L << 20, False, type, &result.type, &result.format,
                           &result.count, &after, &data) != Success) {
        return std::nullopt;
    }
    result.data.reset(data);
    if (result.type == None || !data) return std::nullopt;
    return result;
}

std::string latin1ToUtf8(const unsigned char* text, size_t length) {
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = text[i];
        if (c < 0x80) {
            out += char(c);
        } else {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool hasRandr(Display* display) {
    int event = 0, error = 0;
    return XRRQueryExtension(display, &event, &error);
}

std::vector<Output> outputs(Display* display, unsigned long* primary) {
    std::vector<Output> result;
    *primary = 0;
    if (!hasRandr(display)) return result;
    Window root = DefaultRootWindow(display);
    XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, root);
    if (!resources) return result;
    *primary = XRRGetOutputPrimary(display, root);
    for (int i = 0; i < resources->noutput; ++i) {
        Output output{resources->outputs[i], std::nullopt};
        if (XRROutputInfo* info = XRRGetOutputInfo(display, resources, resources->outputs[i])) {
            if (info->crtc != None) {
                if (XRRCrtcInfo* crtc = XRRGetCrtcInfo(display, resources, info->crtc)) {
                    if (crtc->mode != None && crtc->width > 0 && crtc->height > 0)
                        output.area =
                            Rect{double(crtc->x), double(crtc->y), double(crtc->width), double(crtc->height)};
                    XRRFreeCrtcInfo(crtc);
                }
            }
            XRRFreeOutputInfo(info);
        }
        result.push_back(output);
    }
    XRRFreeScreenResources(resources);
    return result;
}

bool hasState(Display* display, Window window) {
    return !longs(display, window, atom(display, "WM_STATE"), AnyPropertyType).empty();
}

// The client inside a frame of a window manager that reparents without EWMH: the first window
// below `frame` that carries WM_STATE (as xprop and xwininfo look for it).
Window clientBelow(Display* display, Window frame, int depth) {
    if (hasState(display, frame)) return frame;
    if (depth == 0) return 0;
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, frame, &root, &parent, &children, &count)) return 0;
    std::unique_ptr<Window, XFreeDeleter<Window>> owned(children);
    for (unsigned int i = count; i-- > 0;) {
        if (Window client = clientBelow(display, children[i], depth - 1)) return client;
    }
    return 0;
}

bool viewable(Display* display, Window window) {
    XWindowAttributes attributes;
    return XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable;
}

} // namespace

Display* open(const std::string& name) {
    static std::once_flag once;
    std::call_once(once, [] {
        XInitThreads();
        XSetErrorHandler(ignoreError);
    });
    return XOpenDisplay(name.empty() ? nullptr : name.c_str());
}

Connection::Connection(std::string name)
    : displayName(std::move(name)) {}

Connection::~Connection() {
    if (display) XCloseDisplay(display);
}

Connection::Use Connection::use() {
    Use use{std::unique_lock(lock), nullptr};
    // A display that names an unreachable host can take long to refuse: ask at most once a second.
    auto now = std::chrono::steady_clock::now();
    if (!display && (!attempted || now - lastAttempt >= std::chrono::seconds(1))) {
        attempted = true;
        lastAttempt = now;
        display = open(displayName);
    }
    use.display = display;
    return use;
}

Atom atom(Display* display, const char* name) {
    return XInternAtom(display, name, False);
}

std::vector<unsigned long> longs(Display* display, Window window, Atom property, Atom type) {
    auto found = readProperty(display, window, property, type);
    if (!found || found->format != 32) return {};
    auto* items = reinterpret_cast<unsigned long*>(found->data.get());
    return {items, items + found->count};
}

std::optional<std::string> title(Display* display, Window window) {
    Atom utf8 = atom(display, "UTF8_STRING");
    if (auto name = readProperty(display, window, atom(display, "_NET_WM_NAME"), utf8);
        name && name->format == 8) {
        return std::string(reinterpret_cast<char*>(name->data.get()), name->count);
    }
    auto name = readProperty(display, window, XA_WM_NAME, AnyPropertyType);
    if (!name || name->format != 8) return std::nullopt;
    if (name->type == utf8) return std::string(reinterpret_cast<char*>(name->data.get()), name->count);
    if (name->type == XA_STRING) return latin1ToUtf8(name->data.get(), name->count);
    // COMPOUND_TEXT and the like: Xlib converts.
    XTextProperty text{name->data.get(), name->type, name->format, name->count};
    char** list = nullptr;
    int count = 0;
    if (Xutf8TextPropertyToTextList(display, &text, &list, &count) < Success || count < 1 || !list)
        return std::nullopt;
    std::string result = list[0];
    XFreeStringList(list);
    return result;
}

std::optional<int32_t> processIdentifier(Display* display, Window window) {
    auto values = longs(display, window, atom(display, "_NET_WM_PID"), XA_CARDINAL);
    if (values.empty() || values[0] == 0 || values[0] > 0x7FFFFFFF) return std::nullopt;
    return int32_t(values[0]);
}

std::vector<std::string> atomNames(Display* display, Window window, const char* property) {
    std::vector<std::string> names;
    for (unsigned long value : longs(display, window, atom(display, property), XA_ATOM)) {
        if (char* name = XGetAtomName(display, Atom(value))) {
            names.emplace_back(name);
            XFree(name);
        }
    }
    return names;
}

bool hasWindowManager(Display* display) {
    Atom check = atom(display, "_NET_SUPPORTING_WM_CHECK");
    auto onRoot = longs(display, DefaultRootWindow(display), check, XA_WINDOW);
    if (onRoot.empty() || onRoot[0] == 0) return false;
    // A window manager that ended leaves the root's property behind; its window is gone with it.
    auto onChild = longs(display, Window(onRoot[0]), check, XA_WINDOW);
    return !onChild.empty() && onChild[0] == onRoot[0];
}

std::vector<TopLevel> topLevels(Display* display, bool hidden) {
    std::vector<TopLevel> result;
    Window root = DefaultRootWindow(display);
    if (hasWindowManager(display)) {
        // Present but empty is a list too: the window manager manages no window now.
        auto stacking = readProperty(display, root, atom(display, "_NET_CLIENT_LIST_STACKING"), XA_WINDOW);
        if (stacking && stacking->format == 32) {
            auto* windows = reinterpret_cast<unsigned long*>(stacking->data.get());
            // EWMH lists bottom to top.
            for (unsigned long i = stacking->count; i-- > 0;) {
                if (hidden || viewable(display, Window(windows[i])))
                    result.push_back({Window(windows[i]), Window(windows[i])});
            }
            return result;
        }
    }
    Window rootReturn = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, root, &rootReturn, &parent, &children, &count)) return result;
    std::unique_ptr<Window, XFreeDeleter<Window>> owned(children);
    // XQueryTree lists bottom to top too.
    for (unsigned int i = count; i-- > 0;) {
        Window child = children[i];
        if (!viewable(display, child)) continue;
        Window client = clientBelow(display, child, 2);
        result.push_back({client ? client : child, child});
    }
    return result;
}

std::vector<Window> windowsOf(Display* display, int32_t pid, bool hidden) {
    std::vector<Window> result;
    for (const TopLevel& window : topLevels(display, hidden)) {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(display, window.client, &attributes) || attributes.override_redirect)
            continue; // menus and tooltips are not windows of their own
        if (processIdentifier(display, window.client) == pid) result.push_back(window.client);
    }
    return result;
}

std::array<long, 4> frameExtents(Display* display, Window client) {
    auto values = longs(display, client, atom(display, "_NET_FRAME_EXTENTS"), XA_CARDINAL);
    if (values.size() < 4) return {0, 0, 0, 0};
    return {long(values[0]), long(values[1]), long(values[2]), long(values[3])};
}

std::optional<Rect> frame(Display* display, const TopLevel& window) {
    Window root = DefaultRootWindow(display);
    XWindowAttributes attributes;
    if (window.frame != window.client) {
        if (!XGetWindowAttributes(display, window.frame, &attributes)) return std::nullopt;
        int border = attributes.border_width;
        return Rect{double(attributes.x), double(attributes.y), double(attributes.width + 2 * border),
                    double(attributes.height + 2 * border)};
    }
    if (!XGetWindowAttributes(display, window.client, &attributes)) return std::nullopt;
    int x = 0, y = 0;
    Window child = 0;
    if (!XTranslateCoordinates(display, window.client, root, 0, 0, &x, &y, &child)) return std::nullopt;
    auto [left, right, top, bottom] = frameExtents(display, window.client);
    int border = attributes.border_width;
    return Rect{double(x - border - left), double(y - border - top),
                double(attributes.width + 2 * border + left + right),
                double(attributes.height + 2 * border + top + bottom)};
}

std::optional<Rect> primaryArea(const std::vector<Output>& list, unsigned long primary) {
    for (const Output& output : list) {
        if (primary != 0 && output.id == primary && output.area) return output.area;
    }
    for (const Output& output : list) {
        if (output.area) return output.area;
    }
    return std::nullopt;
}

Point primaryOrigin(Display* display) {
    unsigned long primary = 0;
    auto list = outputs(display, &primary);
    auto area = primaryArea(list, primary);
    return area ? area->origin() : Point{};
}

std::vector<Rect> monitors(Display* display) {
    unsigned long primary = 0;
    std::vector<Rect> result;
    for (const Output& output : outputs(display, &primary)) {
        // Mirrored outputs share a CRTC's rectangle: one monitor.
        if (output.area && std::find(result.begin(), result.end(), *output.area) == result.end())
            result.push_back(*output.area);
    }
    if (result.empty()) {
        int screen = DefaultScreen(display);
        result.push_back(
            {0, 0, double(DisplayWidth(display, screen)), double(DisplayHeight(display, screen))});
    }
    return result;
}

std::optional<Window> activeWindow(Display* display) {
    Window root = DefaultRootWindow(display);
    if (hasWindowManager(display)) {
        auto active = longs(display, root, atom(display, "_NET_ACTIVE_WINDOW"), XA_WINDOW);
        if (active.empty() || active[0] == 0) return std::nullopt;
        return Window(active[0]);
    }
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    if (focus == None || focus == PointerRoot || focus == root) return std::nullopt;
    // Toolkits focus a child of their window: climb to the one that says whose it is.
    for (int depth = 0; depth < 32 && focus != 0; ++depth) {
        if (processIdentifier(display, focus)) return focus;
        Window rootReturn = 0, parent = 0, *children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display, focus, &rootReturn, &parent, &children, &count)) return std::nullopt;
        if (children) XFree(children);
        if (parent == root || parent == 0) return focus;
        focus = parent;
    }
    return std::nullopt;
}

bool sendToRoot(Display* display, Window window, const char* type, std::array<long, 5> data) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.serial = 0;
    event.xclient.send_event = True;
    event.xclient.display = display;
    event.xclient.window = window;
    event.xclient.message_type = atom(display, type);
    event.xclient.format = 32;
    for (size_t i = 0; i < data.size(); ++i)
        event.xclient.data.l[i] = data[i];
    Status sent = XSendEvent(display, DefaultRootWindow(display), False,
                             SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XFlush(display);
    return sent != 0;
}

int layer(const std::vector<std::string>& types, const std::vector<std::string>& states,
          bool overrideRedirect) {
    auto has = [](const std::vector<std::string>& list, const char* name) {
        return std::find(list.begin(), list.end(), name) != list.end();
    };
    // The first type the window names that is known here decides, as EWMH orders them by preference.
    for (const std::string& type : types) {
        if (type == "_NET_WM_WINDOW_TYPE_DESKTOP") return -2147483603; // the desktop, below everything
        if (type == "_NET_WM_WINDOW_TYPE_DOCK") return 20;             // panels and docks
        if (type == "_NET_WM_WINDOW_TYPE_NOTIFICATION") return 25;
        if (type == "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU" || type == "_NET_WM_WINDOW_TYPE_POPUP_MENU" ||
            type == "_NET_WM_WINDOW_TYPE_MENU" || type == "_NET_WM_WINDOW_TYPE_COMBO") {
            return 101;
        }
        if (type == "_NET_WM_WINDOW_TYPE_TOOLTIP") return 200;
        if (type == "_NET_WM_WINDOW_TYPE_DND") return 500;
        if (type == "_NET_WM_WINDOW_TYPE_NORMAL" || type == "_NET_WM_WINDOW_TYPE_DIALOG" ||
            type == "_NET_WM_WINDOW_TYPE_UTILITY" || type == "_NET_WM_WINDOW_TYPE_TOOLBAR" ||
            type == "_NET_WM_WINDOW_TYPE_SPLASH") {
            break;
        }
    }
    // Unmanaged windows without a type are the menus and tooltips of older toolkits.
    if (types.empty() && overrideRedirect) return 101;
    if (has(states, "_NET_WM_STATE_ABOVE")) return 3; // floating
    if (has(states, "_NET_WM_STATE_BELOW")) return -1;
    return 0;
}

} // namespace tandem::x11
