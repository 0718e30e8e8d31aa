#include "platform/linux/X11Pointer.h"

#include "platform/linux/Subscription.h"
#include "platform/linux/X11Support.h"

#include <X11/Xproto.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/record.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <thread>

namespace tandem {

void PostedEvents::add(PointerEventType type, long x, long y, int64_t userData, Time now) {
    std::lock_guard guard(lock);
    while (!entries.empty() && (now - entries.front().time > lifetime || entries.size() >= 256))
        entries.pop_front();
    entries.push_back({next++, type, x, y, userData, now});
}

uint64_t PostedEvents::last() {
    std::lock_guard guard(lock);
    return next - 1;
}

int64_t PostedEvents::match(PointerEventType type, long x, long y, Time now, uint64_t* cursor) {
    std::lock_guard guard(lock);
    for (const Entry& entry : entries) {
        if (entry.sequence <= *cursor || now - entry.time > lifetime) continue;
        if (entry.type == type && entry.x == x && entry.y == y) {
            *cursor = entry.sequence;
            return entry.userData;
        }
    }
    return 0;
}

namespace {

using Events = Subscription<MonitoredEvent>;

// One recording: a control connection (context, layout questions) and a data connection that only
// the recording reads, served by a thread that waits on it and on a wake-up descriptor.
struct Recording {
    Display* control = nullptr;
    Display* data = nullptr;
    XRecordContext context = 0;
    int wake = -1;
    std::atomic<bool> stopping{false};
    bool started = false; // the server's start-of-data reply came
    std::shared_ptr<PostedEvents> posted;
    uint64_t cursor = 0;
    std::shared_ptr<Events> events;
    std::thread thread;

    ~Recording() {
        if (context) XRecordFreeContext(control, context);
        if (data) XCloseDisplay(data);
        if (control) XCloseDisplay(control);
        if (wake >= 0) ::close(wake);
    }
};

void intercept(XPointer closure, XRecordInterceptData* record) {
    auto* recording = reinterpret_cast<Recording*>(closure);
    if (record->category == XRecordStartOfData) recording->started = true;
    if (record->category == XRecordFromServer && record->data_len * 4 >= sizeof(xEvent)) {
        const auto* event = reinterpret_cast<const xEvent*>(record->data);
        const int type = event->u.u.type & 0x7F; // the top bit marks events sent by clients
        if ((type == ButtonPress || type == ButtonRelease) && event->u.u.detail == 1) {
            const PointerEventType kind =
                type == ButtonPress ? PointerEventType::leftMouseDown : PointerEventType::leftMouseUp;
            const long x = event->u.keyButtonPointer.rootX, y = event->u.keyButtonPointer.rootY;
            const int64_t userData =
                recording->posted->match(kind, x, y, std::chrono::steady_clock::now(), &recording->cursor);
            const Point origin = x11::primaryOrigin(recording->control);
            recording->events->deliver(MonitoredEvent{kind, Point{x - origin.x, y - origin.y}, userData});
        }
    }
    XRecordFreeData(record);
}

// Reads what the data connection has (Xlib may hold some already read), then waits for more.
void serve(Recording& recording, int timeoutMs) {
    XRecordProcessReplies(recording.data);
    pollfd waits[2] = {{ConnectionNumber(recording.data), POLLIN, 0}, {recording.wake, POLLIN, 0}};
    ::poll(waits, 2, timeoutMs);
}

class MonitorToken final : public Observation {
public:
    explicit MonitorToken(std::unique_ptr<Recording> recording)
        : recording(std::move(recording)) {
        Recording* r = this->recording.get();
        r->thread = std::thread([r] {
            while (!r->stopping)
                serve(*r, 100);
        });
    }
    ~MonitorToken() override {
        recording->stopping = true;
        uint64_t one = 1;
        (void)!::write(recording->wake, &one, sizeof one);
        recording->thread.join();
        XRecordDisableContext(recording->control, recording->context);
        XSync(recording->control, False);
        recording->events->end();
    }

private:
    std::unique_ptr<Recording> recording;
};

} // namespace

X11Pointer::X11Pointer(std::string display)
    : connection(std::move(display)) {}

bool X11Pointer::canPost(Display* display) {
    if (xtest < 0) {
        int event = 0, error = 0, major = 0, minor = 0;
        xtest = XTestQueryExtension(display, &event, &error, &major, &minor) ? 1 : 0;
    }
    return xtest == 1;
}

std::optional<PointerEvent> X11Pointer::makeMouseEvent(PointerEventType type, PointerPoint location) {
    auto use = connection.use();
    if (!use || !canPost(use.display)) return std::nullopt;
    return PointerEvent{type, location};
}

void X11Pointer::post(const PointerEvent& event) {
    auto use = connection.use();
    if (!use || !canPost(use.display)) return;
    Display* display = use.display;
    const Point origin = x11::primaryOrigin(display);
    const long x = std::lround(event.location.x + origin.x), y = std::lround(event.location.y + origin.y);
    XTestFakeMotionEvent(display, -1, int(x), int(y), CurrentTime);
    if (event.type != PointerEventType::mouseMoved) {
        // Remembered before it is sent, so a monitor never sees the event first.
        posted->add(event.type, x, y, event.userData, std::chrono::steady_clock::now());
        XTestFakeButtonEvent(display, 1, event.type == PointerEventType::leftMouseDown, CurrentTime);
    }
    XSync(display, False);
}

std::optional<PointerPoint> X11Pointer::location() {
    auto use = connection.use();
    if (!use) return std::nullopt;
    Window root = 0, child = 0;
    int rootX = 0, rootY = 0, x = 0, y = 0;
    unsigned int mask = 0;
    if (!XQueryPointer(use.display, DefaultRootWindow(use.display), &root, &child, &rootX, &rootY, &x, &y,
                       &mask))
        return std::nullopt; // on another X screen
    const Point origin = x11::primaryOrigin(use.display);
    return PointerPoint{rootX - origin.x, rootY - origin.y};
}

bool X11Pointer::leftButtonDown() {
    auto use = connection.use();
    if (!use) return false;
    Window root = 0, child = 0;
    int rootX = 0, rootY = 0, x = 0, y = 0;
    unsigned int mask = 0;
    XQueryPointer(use.display, DefaultRootWindow(use.display), &root, &child, &rootX, &rootY, &x, &y, &mask);
    return (mask & Button1Mask) != 0;
}

ObservationToken X11Pointer::monitorLeftButton(std::shared_ptr<Queue> queue,
                                               std::function<void(const MonitoredEvent&)> handler) {
    auto silent = [] { return std::make_unique<Observation>(); };
    auto recording = std::make_unique<Recording>();
    recording->control = x11::open(connection.name());
    recording->data = x11::open(connection.name());
    if (!recording->control || !recording->data) return silent();
    int opcode = 0, event = 0, error = 0;
    if (!XQueryExtension(recording->control, "RECORD", &opcode, &event, &error)) return silent();
    recording->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (recording->wake < 0) return silent();

    XRecordRange* range = XRecordAllocRange();
    if (!range) return silent();
    range->device_events.first = ButtonPress;
    range->device_events.last = ButtonRelease;
    XRecordClientSpec clients = XRecordAllClients;
    recording->context = XRecordCreateContext(recording->control, 0, &clients, 1, &range, 1);
    XFree(range);
    if (!recording->context) return silent();
    XSync(recording->control, False);

    recording->posted = posted;
    recording->cursor = posted->last();
    recording->events = std::make_shared<Events>(
        std::move(queue), [handler = std::move(handler)](MonitoredEvent e) { handler(e); });
    if (!XRecordEnableContextAsync(recording->data, recording->context, intercept,
                                   reinterpret_cast<XPointer>(recording.get()))) {
        return silent();
    }
    // Recording starts when the server says so: wait for it, so that no press after this call is missed.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!recording->started && std::chrono::steady_clock::now() < deadline)
        serve(*recording, 20);
    if (!recording->started) {
        XRecordDisableContext(recording->control, recording->context);
        XSync(recording->control, False);
        return silent();
    }
    return std::make_unique<MonitorToken>(std::move(recording));
}

} // namespace tandem
