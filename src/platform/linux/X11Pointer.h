#pragma once

#include "platform/Pointer.h"
#include "platform/linux/X11Connection.h"

#include <chrono>
#include <deque>
#include <mutex>
#include <string>

namespace tandem {

// What the pointer posted lately. XTest events carry no user data, so a monitor recognises the
// pointer's own presses and releases by their kind and place (root coordinates), in posting order:
// each post marks at most one monitored event per monitor, and only within a few seconds.
class PostedEvents {
public:
    using Time = std::chrono::steady_clock::time_point;

    void add(PointerEventType type, long x, long y, int64_t userData, Time now);
    // The newest post so far; a monitor matches only posts after its cursor.
    uint64_t last();
    // The user data of the earliest post after `*cursor` with this kind and place, moving the cursor
    // past it; 0 (and the cursor left alone) when none matches.
    int64_t match(PointerEventType type, long x, long y, Time now, uint64_t* cursor);

    static constexpr std::chrono::seconds lifetime{3};

private:
    struct Entry {
        uint64_t sequence;
        PointerEventType type;
        long x, y;
        int64_t userData;
        Time time;
    };
    std::mutex lock;
    std::deque<Entry> entries;
    uint64_t next = 1;
};

// The pointer of an X server through XTest (posting) and RECORD (watching the left button).
// Locations are display coordinates: root coordinates less the first screen's top-left.
//
// `post` moves the pointer to the event's location and presses or releases button 1 there, and
// returns once the server has taken the events; modifier flags and click state are not posted.
// `monitorLeftButton` records button 1 presses and releases from every client on connections and a
// thread of its own; events that match one of this pointer's recent posts carry that post's user
// data, every other event 0. Destroying the token stops recording and joins the thread.
//
// Without an X server (or without XTEST) no event is made and posting does nothing; without a server
// or without RECORD the monitor's token never fires.
class X11Pointer final : public Pointer {
public:
    // `display` as Xlib takes it; empty: $DISPLAY.
    explicit X11Pointer(std::string display = {});

    std::optional<PointerEvent> makeMouseEvent(PointerEventType type, PointerPoint location) override;
    void post(const PointerEvent& event) override;
    std::optional<PointerPoint> location() override;
    bool leftButtonDown() override;
    ObservationToken monitorLeftButton(std::shared_ptr<Queue> queue,
                                       std::function<void(const MonitoredEvent&)> handler) override;

private:
    bool canPost(Display* display);

    x11::Connection connection;
    int xtest = -1; // unknown until the connection is open
    std::shared_ptr<PostedEvents> posted = std::make_shared<PostedEvents>();
};

} // namespace tandem
