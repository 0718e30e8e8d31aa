#include "platform/linux/X11Pointer.h"

#include "base/ThreadQueue.h"

#include "NoDisplayExpectations.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

// Xlib last: its macros clash with names in the headers above.
#include "X11TestClient.h"

#include <X11/extensions/XTest.h>

namespace tandem {
namespace {

using testing::eventually;
using testing::XClient;

// What a monitor delivered, in order, on its queue.
struct Seen {
    std::mutex lock;
    std::vector<MonitoredEvent> events;
    std::vector<MonitoredEvent> all() {
        std::lock_guard guard(lock);
        return events;
    }
    size_t count() {
        std::lock_guard guard(lock);
        return events.size();
    }
    std::function<void(const MonitoredEvent&)> handler() {
        return [this](const MonitoredEvent& event) {
            std::lock_guard guard(lock);
            events.push_back(event);
        };
    }
};

TEST(PostedEvents, MatchesEachPostOncePerCursorInOrderAndOnlyWhileFresh) {
    PostedEvents posted;
    auto now = std::chrono::steady_clock::now();
    posted.add(PointerEventType::leftMouseDown, 10, 20, 7, now);
    posted.add(PointerEventType::leftMouseDown, 10, 20, 8, now);
    posted.add(PointerEventType::leftMouseUp, 10, 20, 9, now);

    uint64_t first = 0, second = 0;
    EXPECT_EQ(posted.match(PointerEventType::leftMouseDown, 11, 20, now, &first), 0); // elsewhere
    EXPECT_EQ(posted.match(PointerEventType::leftMouseUp, 10, 20, now, &first), 9);
    // The up matched the newest post: the two downs before it are behind the cursor now.
    EXPECT_EQ(posted.match(PointerEventType::leftMouseDown, 10, 20, now, &first), 0);
    // Another monitor has a cursor of its own.
    EXPECT_EQ(posted.match(PointerEventType::leftMouseDown, 10, 20, now, &second), 7);
    EXPECT_EQ(posted.match(PointerEventType::leftMouseDown, 10, 20, now, &second), 8);
    EXPECT_EQ(posted.match(PointerEventType::leftMouseDown, 10, 20, now, &second), 0);

    // Posts made before a monitor started are not its own, and stale posts match nothing.
    uint64_t later = posted.last();
    posted.add(PointerEventType::leftMouseDown, 1, 1, 3, now);
    EXPECT_EQ(posted.match(PointerEventType::leftMouseUp, 10, 20, now, &later), 0);
    EXPECT_EQ(posted.match(PointerEventType::leftMouseDown, 1, 1,
                           now + PostedEvents::lifetime + std::chrono::seconds(1), &later),
              0);
    EXPECT_EQ(posted.match(PointerEventType::leftMouseDown, 1, 1, now, &later), 3);
}

TEST(X11Pointer, PostsAClickThatReachesTheWindowUnderIt) {
    X11Pointer pointer;
    XClient client;
    if (!client) {
        testing::expectNoPointer(pointer);
        return;
    }
    // The window stands in for Koala's; its top-left is at (100, 100) of the first screen.
    Window window =
        client.create({100, 100, 300, 200}, "Koala", std::nullopt, ButtonPressMask | ButtonReleaseMask);
    ASSERT_TRUE(client.map(window));

    auto down = pointer.makeMouseEvent(PointerEventType::leftMouseDown, {150, 130});
    ASSERT_TRUE(down.has_value());
    EXPECT_EQ(down->location, (Point{150, 130}));
    pointer.post(*down);
    auto press = client.next(window, ButtonPress);
    ASSERT_TRUE(press.has_value());
    EXPECT_EQ(press->xbutton.button, 1u);
    EXPECT_EQ(press->xbutton.x, 50);
    EXPECT_EQ(press->xbutton.y, 30);
    EXPECT_TRUE(pointer.leftButtonDown());
    EXPECT_EQ(pointer.location(), (Point{150, 130}));

    pointer.post(*pointer.makeMouseEvent(PointerEventType::leftMouseUp, {160, 140}));
    auto release = client.next(window, ButtonRelease);
    ASSERT_TRUE(release.has_value());
    EXPECT_EQ(release->xbutton.x, 60);
    EXPECT_EQ(release->xbutton.y, 40);
    EXPECT_FALSE(pointer.leftButtonDown());

    pointer.post(*pointer.makeMouseEvent(PointerEventType::mouseMoved, {700, 500}));
    EXPECT_EQ(pointer.location(), (Point{700, 500}));
    XDestroyWindow(client.display, window);
    XSync(client.display, False);
}

TEST(X11Pointer, MonitorSeesOtherClientsClicksUnmarkedAndItsOwnWithTheirUserData) {
    X11Pointer pointer;
    XClient other; // another client of the server, clicking as the musician's mouse would
    if (!other) {
        testing::expectNoPointer(pointer);
        return;
    }
    auto queue = std::make_shared<ThreadQueue>("monitor");
    Seen seen;
    auto token = pointer.monitorLeftButton(queue, seen.handler());

    pointer.post(PointerEvent{PointerEventType::mouseMoved, {400, 300}, 0, 1, 99}); // not a button
    pointer.post(PointerEvent{PointerEventType::leftMouseDown, {400, 300}, 0, 1, 42});
    pointer.post(PointerEvent{PointerEventType::leftMouseUp, {400, 300}, 0, 1, 43});
    ASSERT_TRUE(eventually([&] { return seen.count() >= 2; }));

    XTestFakeMotionEvent(other.display, -1, 500, 320, CurrentTime);
    XTestFakeButtonEvent(other.display, 3, True, CurrentTime); // not the left button
    XTestFakeButtonEvent(other.display, 3, False, CurrentTime);
    XTestFakeButtonEvent(other.display, 1, True, CurrentTime);
    XTestFakeButtonEvent(other.display, 1, False, CurrentTime);
    // Where our own posts were, but after they were seen: someone else's click.
    XTestFakeMotionEvent(other.display, -1, 400, 300, CurrentTime);
    XTestFakeButtonEvent(other.display, 1, True, CurrentTime);
    XTestFakeButtonEvent(other.display, 1, False, CurrentTime);
    XSync(other.display, False);
    ASSERT_TRUE(eventually([&] { return seen.count() >= 6; }));

    const std::vector<MonitoredEvent> expected{
        {PointerEventType::leftMouseDown, Point{400, 300}, 42},
        {PointerEventType::leftMouseUp, Point{400, 300}, 43},
        {PointerEventType::leftMouseDown, Point{500, 320}, 0},
        {PointerEventType::leftMouseUp, Point{500, 320}, 0},
        {PointerEventType::leftMouseDown, Point{400, 300}, 0},
        {PointerEventType::leftMouseUp, Point{400, 300}, 0},
    };
    queue->sync([] {});
    EXPECT_EQ(seen.all(), expected);

    // Once the token is gone, nothing more arrives.
    token.reset();
    pointer.post(PointerEvent{PointerEventType::leftMouseDown, {410, 310}, 0, 1, 44});
    pointer.post(PointerEvent{PointerEventType::leftMouseUp, {410, 310}, 0, 1, 45});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    queue->sync([] {});
    EXPECT_EQ(seen.count(), expected.size());
}

} // namespace
} // namespace tandem
