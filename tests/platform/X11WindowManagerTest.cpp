// The EWMH paths, against a real window manager (Openbox) on an X server of this program's own
// (Xvfb without RECORD and XTEST), so that neither disturbs the other X tests.

#include "platform/linux/LinuxProcesses.h"
#include "platform/linux/LinuxWorkspace.h"
#include "platform/linux/X11Accessibility.h"
#include "platform/linux/X11Pointer.h"
#include "platform/linux/X11WindowServer.h"

#include "StandInProcess.h"
#include "base/ThreadQueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <mutex>
#include <sstream>

// Xlib last: its macros clash with names in the headers above.
#include "X11TestClient.h"
#include "platform/linux/X11Support.h"

namespace tandem {
namespace {

using testing::eventually;
using testing::XClient;

class WithWindowManager : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // -displayfd: the server picks a free display and writes its number once it takes clients.
        auto started = processes().run(
            {"/usr/bin/Xvfb",
             {"-displayfd", "1", "-screen", "0", "1440x900x24", "-extension", "RECORD", "-nolisten", "tcp"},
             {},
             ProcessLaunch::Output::pipe});
        if (!started) {
            problem() = started.error().description;
            return;
        }
        server() = std::move(started.value());
        std::string number;
        eventually(
            [&] {
                std::istringstream lines(server()->output());
                for (std::string line; std::getline(lines, line);) {
                    if (!line.empty() && std::all_of(line.begin(), line.end(), ::isdigit) && lines.good()) {
                        number = line;
                        return true;
                    }
                }
                return !server()->isRunning();
            },
            10);
        if (number.empty()) {
            problem() = "Xvfb did not start: " + server()->output();
            return;
        }
        display() = ":" + number;
        // The workspace follows $DISPLAY, as Tandem's does.
        setenv("DISPLAY", display().c_str(), 1);
        auto wm = processes().run({"/usr/bin/openbox", {"--sm-disable"}, {{"DISPLAY", display()}}});
        if (!wm) {
            problem() = wm.error().description;
            return;
        }
        manager() = std::move(wm.value());
        XClient client(display().c_str());
        if (!client || !eventually([&] { return x11::hasWindowManager(client.display); }, 10)) {
            problem() = "Openbox did not take the display";
            return;
        }
        // Openbox announces itself before its start-up is over and drops map requests made meanwhile:
        // it is ready once it manages a window, mapped again until it does.
        Window probe = client.create({0, 0, 10, 10}, "probe", std::nullopt);
        bool ready = false;
        for (int attempt = 0; attempt < 20 && !ready; ++attempt) {
            XUnmapWindow(client.display, probe);
            XMapWindow(client.display, probe);
            XSync(client.display, False);
            ready = eventually(
                [&] {
                    auto list =
                        x11::longs(client.display, client.root(), client.atom("_NET_CLIENT_LIST"), XA_WINDOW);
                    return std::count(list.begin(), list.end(), probe) == 1;
                },
                0.5);
        }
        XDestroyWindow(client.display, probe);
        XSync(client.display, False);
        if (!ready) problem() = "Openbox manages no window";
    }

    static void TearDownTestSuite() {
        manager().reset(); // terminated and reaped
        server().reset();
    }

    void SetUp() override { ASSERT_EQ(problem(), "") << "no window manager to test against"; }

    static LinuxProcesses& processes() {
        static LinuxProcesses instance;
        return instance;
    }
    static std::unique_ptr<RunningProcess>& server() {
        static std::unique_ptr<RunningProcess> instance;
        return instance;
    }
    static std::unique_ptr<RunningProcess>& manager() {
        static std::unique_ptr<RunningProcess> instance;
        return instance;
    }
    static std::string& display() {
        static std::string instance;
        return instance;
    }
    static std::string& problem() {
        static std::string instance;
        return instance;
    }

    // A window the window manager has taken on (framed and listed), owned by `pid`.
    Window managed(XClient& client, Rect frame, std::optional<int32_t> pid, long events = 0) {
        Window window = client.create(frame, "Koala", pid, events);
        EXPECT_TRUE(client.map(window));
        EXPECT_TRUE(eventually([&] {
            auto list = x11::longs(client.display, client.root(), client.atom("_NET_CLIENT_LIST"), XA_WINDOW);
            return std::count(list.begin(), list.end(), window) == 1 &&
                   !x11::longs(client.display, window, client.atom("_NET_FRAME_EXTENTS"), XA_CARDINAL)
                        .empty();
        }));
        return window;
    }
};

TEST_F(WithWindowManager, ListsManagedWindowsFrontToBackFramedWithTheirDecorations) {
    XClient client(display().c_str());
    ASSERT_TRUE(client);
    X11WindowServer server(display());
    Window back = managed(client, {100, 100, 300, 200}, 5151);
    Window front = managed(client, {150, 150, 300, 200}, 5252);

    std::vector<WindowInfo> windows;
    ASSERT_TRUE(eventually([&] {
        windows = server.onScreenWindows();
        return windows.size() >= 2 && windows[0].number == front;
    }));
    auto entry =
        std::find_if(windows.begin(), windows.end(), [&](const WindowInfo& w) { return w.number == back; });
    ASSERT_NE(entry, windows.end());
    EXPECT_EQ(entry->ownerProcessIdentifier, 5151);
    auto [left, right, top, bottom] = x11::frameExtents(client.display, back);
    EXPECT_GT(top, 0); // a title bar
    Rect inner = client.geometry(back);
    EXPECT_EQ(entry->bounds,
              (Rect{inner.x - left, inner.y - top, inner.width + left + right, inner.height + top + bottom}));
    // Kept above others by the window manager: floating.
    x11::sendToRoot(client.display, back, "_NET_WM_STATE",
                    {1, long(client.atom("_NET_WM_STATE_ABOVE")), 0, 1, 0});
    EXPECT_TRUE(eventually([&] {
        auto now = server.onScreenWindows();
        return !now.empty() && now[0].number == back && now[0].layer == 3;
    }));
    XDestroyWindow(client.display, back);
    XDestroyWindow(client.display, front);
    XSync(client.display, False);
    EXPECT_TRUE(eventually([&] { return server.onScreenWindows().empty(); }));
}

TEST_F(WithWindowManager, AccessibilityAsksTheWindowManagerToMoveResizeAndFullScreen) {
    XClient client(display().c_str());
    ASSERT_TRUE(client);
    testing::StandInProcess koala;
    ASSERT_GT(koala.pid, 0);
    X11Accessibility accessibility(display());
    Window window = managed(client, {100, 100, 300, 200}, koala.pid);
    auto windows = accessibility.attribute(accessibility.applicationElement(koala.pid), "AXWindows");
    ASSERT_TRUE(windows && std::holds_alternative<std::vector<AXElement>>(*windows));
    ASSERT_EQ(std::get<std::vector<AXElement>>(*windows).size(), 1u);
    AXElement element = std::get<std::vector<AXElement>>(*windows)[0];
    auto read = [&](const char* name) { return accessibility.attribute(element, name); };

    EXPECT_TRUE(accessibility.setAttribute(element, "AXPosition", Point{300, 200}));
    EXPECT_TRUE(accessibility.setAttribute(element, "AXSize", Size{500, 400}));
    EXPECT_TRUE(eventually([&] {
        return read("AXPosition") == std::optional<AXValue>{Point{300, 200}} &&
               read("AXSize") == std::optional<AXValue>{Size{500, 400}};
    }));

    EXPECT_TRUE(accessibility.setAttribute(element, "AXFullScreen", true));
    EXPECT_TRUE(eventually([&] {
        return read("AXFullScreen") == std::optional<AXValue>{true} &&
               read("AXSize") == std::optional<AXValue>{Size{1440, 900}} &&
               read("AXPosition") == std::optional<AXValue>{Point{0, 0}};
    }));
    EXPECT_TRUE(accessibility.setAttribute(element, "AXFullScreen", false));
    EXPECT_TRUE(eventually([&] {
        return read("AXFullScreen") == std::optional<AXValue>{false} &&
               read("AXSize") == std::optional<AXValue>{Size{500, 400}};
    }));
    XDestroyWindow(client.display, window);
    XSync(client.display, False);
}

TEST_F(WithWindowManager, TheWorkspaceActivatesAWindowAndNoticesTheFrontmostApplication) {
    XClient client(display().c_str());
    ASSERT_TRUE(client);
    testing::StandInProcess first, second;
    ASSERT_GT(first.pid, 0);
    ASSERT_GT(second.pid, 0);
    LinuxWorkspace workspace(LinuxWorkspace::Names{{"com.test.sleeper", "sleep"}});
    auto queue = std::make_shared<ThreadQueue>("workspace");
    std::mutex lock;
    std::vector<int32_t> activated;
    auto token =
        workspace.observe(WorkspaceNotice::didActivate, queue, [&](const RunningApplication& application) {
            std::lock_guard guard(lock);
            activated.push_back(application.processIdentifier);
        });
    auto heard = [&](int32_t pid) {
        std::lock_guard guard(lock);
        return std::count(activated.begin(), activated.end(), pid) > 0;
    };
    Window one = managed(client, {100, 100, 300, 200}, first.pid);
    Window two = managed(client, {200, 200, 300, 200}, second.pid);

    EXPECT_TRUE(workspace.activate(first.pid, activateIgnoringOtherApps));
    EXPECT_TRUE(eventually([&] {
        return workspace.frontmostApplication() ==
               RunningApplication{"com.test.sleeper", first.pid, false, "sleep", true};
    }));
    EXPECT_TRUE(eventually([&] { return heard(first.pid); }));
    EXPECT_EQ(X11WindowServer(display()).onScreenWindows().front().number, one);

    EXPECT_TRUE(workspace.activate(second.pid, activateAllWindows));
    EXPECT_TRUE(eventually([&] { return heard(second.pid); }));
    EXPECT_FALSE(workspace.activate(::getpid(), 0)); // no window of ours
    XDestroyWindow(client.display, one);
    XDestroyWindow(client.display, two);
    XSync(client.display, False);
}

// This server runs without RECORD, which takes XTEST with it: the pointer reads its state but makes
// no events, and a monitor never fires.
TEST_F(WithWindowManager, WithoutXTestAndRecordThePointerOnlyReads) {
    XClient client(display().c_str());
    ASSERT_TRUE(client);
    X11Pointer pointer(display());
    auto queue = std::make_shared<ThreadQueue>("monitor");
    std::atomic<int> monitored{0};
    auto token = pointer.monitorLeftButton(queue, [&](const MonitoredEvent&) { ++monitored; });
    ASSERT_NE(token, nullptr);
    Window window = managed(client, {400, 300, 200, 100}, std::nullopt, ButtonPressMask);
    Rect inner = client.geometry(window);
    EXPECT_FALSE(
        pointer.makeMouseEvent(PointerEventType::leftMouseDown, {inner.x + 10, inner.y + 20}).has_value());
    pointer.post(PointerEvent{PointerEventType::leftMouseDown, {inner.x + 10, inner.y + 20}});
    EXPECT_FALSE(client.next(window, ButtonPress, 0.3).has_value());
    EXPECT_TRUE(pointer.location().has_value());
    EXPECT_FALSE(pointer.leftButtonDown());
    queue->sync([] {});
    EXPECT_EQ(monitored, 0);
    XDestroyWindow(client.display, window);
    XSync(client.display, False);
}

} // namespace
} // namespace tandem
