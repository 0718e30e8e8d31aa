#include "platform/linux/X11Accessibility.h"
#include "platform/linux/X11WindowServer.h"

#include "NoDisplayExpectations.h"
#include "StandInProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

// Xlib last: its macros clash with names in the headers above.
#include "X11TestClient.h"
#include "platform/linux/X11Support.h"

namespace tandem {
namespace {

using testing::XClient;

std::optional<WindowInfo> listed(X11WindowServer& server, Window window) {
    for (const WindowInfo& info : server.onScreenWindows()) {
        if (info.number == window) return info;
    }
    return std::nullopt;
}

size_t position(const std::vector<WindowInfo>& list, Window window) {
    auto found =
        std::find_if(list.begin(), list.end(), [&](const WindowInfo& info) { return info.number == window; });
    return size_t(found - list.begin());
}

TEST(X11WindowServer, ListsViewableWindowsFrontToBackWithOwnerLayerAndFrame) {
    X11WindowServer server;
    XClient client;
    if (!client) {
        testing::expectNoWindows(server);
        return;
    }
    Window koala = client.create({50, 60, 320, 240}, "Koala", 4242);
    Window cover = client.create({100, 100, 200, 150}, "Cover", std::nullopt, 0, 3);
    Window hidden = client.create({0, 0, 50, 50}, "Hidden", 4242);
    Window dock = client.create({0, 870, 1440, 30}, "Dock", 4343);
    client.setAtoms(dock, "_NET_WM_WINDOW_TYPE", {"_NET_WM_WINDOW_TYPE_DOCK"});
    Window menu = client.create({60, 70, 100, 100}, "", std::nullopt, 0, 0, true);
    ASSERT_TRUE(client.map(koala));
    ASSERT_TRUE(client.map(cover));
    ASSERT_TRUE(client.map(dock));
    ASSERT_TRUE(client.map(menu));

    auto windows = server.onScreenWindows();
    ASSERT_LT(position(windows, koala), windows.size());
    EXPECT_EQ(position(windows, hidden), windows.size()); // never mapped
    // Mapped last is in front.
    EXPECT_LT(position(windows, menu), position(windows, dock));
    EXPECT_LT(position(windows, dock), position(windows, cover));
    EXPECT_LT(position(windows, cover), position(windows, koala));

    EXPECT_EQ(*listed(server, koala), (WindowInfo{4242, 0, Rect{50, 60, 320, 240}, uint32_t(koala)}));
    // A border belongs to the frame; no _NET_WM_PID: no owner.
    EXPECT_EQ(*listed(server, cover),
              (WindowInfo{std::nullopt, 0, Rect{100, 100, 206, 156}, uint32_t(cover)}));
    EXPECT_EQ(listed(server, dock)->layer, 20);
    EXPECT_EQ(listed(server, menu)->layer, 101);

    client.setAtoms(cover, "_NET_WM_STATE", {"_NET_WM_STATE_ABOVE"});
    EXPECT_EQ(listed(server, cover)->layer, 3);
    XRaiseWindow(client.display, koala);
    XMoveWindow(client.display, koala, 70, 80);
    XSync(client.display, False);
    windows = server.onScreenWindows();
    EXPECT_EQ(position(windows, koala), 0u);
    EXPECT_EQ(windows[0].bounds, (Rect{70, 80, 320, 240}));

    XUnmapWindow(client.display, koala);
    XSync(client.display, False);
    EXPECT_FALSE(listed(server, koala).has_value());
    for (Window window : {koala, cover, hidden, dock, menu})
        XDestroyWindow(client.display, window);
    XSync(client.display, False);
}

TEST(X11Accessibility, FindsAProcesssWindowReadsMovesResizesAndFullScreensIt) {
    X11Accessibility accessibility;
    XClient client;
    if (!client) {
        testing::expectUntrusted(accessibility);
        return;
    }
    testing::StandInProcess koala;
    ASSERT_GT(koala.pid, 0);
    EXPECT_TRUE(accessibility.isProcessTrusted(false));
    Window main = client.create({50, 60, 320, 240}, "Koala — Sampler ü", koala.pid);
    Window other = client.create({500, 400, 100, 100}, "", std::nullopt); // someone else's
    ASSERT_TRUE(client.map(main));
    ASSERT_TRUE(client.map(other));

    AXElement application = accessibility.applicationElement(koala.pid);
    auto windows = accessibility.attribute(application, "AXWindows");
    ASSERT_TRUE(windows.has_value());
    ASSERT_TRUE(std::holds_alternative<std::vector<AXElement>>(*windows));
    auto list = std::get<std::vector<AXElement>>(*windows);
    ASSERT_EQ(list.size(), 1u);
    AXElement window = list[0];
    EXPECT_EQ(accessibility.attribute(application, "AXTitle"),
              (std::optional<AXValue>{std::string("sleep")}));

    EXPECT_EQ(accessibility.attribute(window, "AXTitle"),
              (std::optional<AXValue>{std::string("Koala — Sampler ü")}));
    EXPECT_EQ(accessibility.attribute(window, "AXPosition"), (std::optional<AXValue>{Point{50, 60}}));
    EXPECT_EQ(accessibility.attribute(window, "AXSize"), (std::optional<AXValue>{Size{320, 240}}));
    EXPECT_EQ(accessibility.attribute(window, "AXFullScreen"), (std::optional<AXValue>{false}));

    // The old title property, in Latin-1.
    const unsigned char latin1[] = {'C', 'a', 'f', 0xE9};
    XDeleteProperty(client.display, main, client.atom("_NET_WM_NAME"));
    XChangeProperty(client.display, main, XA_WM_NAME, XA_STRING, 8, PropModeReplace, latin1, 4);
    XSync(client.display, False);
    EXPECT_EQ(accessibility.attribute(window, "AXTitle"), (std::optional<AXValue>{std::string("Café")}));

    EXPECT_TRUE(accessibility.setAttribute(window, "AXPosition", Point{200, 150}));
    EXPECT_EQ(client.geometry(main), (Rect{200, 150, 320, 240}));
    EXPECT_TRUE(accessibility.setAttribute(window, "AXSize", Size{400, 300}));
    EXPECT_EQ(client.geometry(main), (Rect{200, 150, 400, 300}));
    // Values of the wrong type, or no size at all, are refused and change nothing.
    EXPECT_FALSE(accessibility.setAttribute(window, "AXPosition", Size{1, 1}));
    EXPECT_FALSE(accessibility.setAttribute(window, "AXSize", Size{0, 300}));
    EXPECT_EQ(client.geometry(main), (Rect{200, 150, 400, 300}));

    // Full screen covers the monitor under the window's centre; leaving it puts the frame back.
    const Rect monitor = x11::monitors(client.display).front();
    EXPECT_TRUE(accessibility.setAttribute(window, "AXFullScreen", true));
    EXPECT_EQ(client.geometry(main), monitor);
    EXPECT_EQ(accessibility.attribute(window, "AXFullScreen"), (std::optional<AXValue>{true}));
    EXPECT_TRUE(accessibility.setAttribute(window, "AXFullScreen", false));
    EXPECT_EQ(client.geometry(main), (Rect{200, 150, 400, 300}));

    // The application moving its window out of full screen ends it as far as readers can tell.
    EXPECT_TRUE(accessibility.setAttribute(window, "AXFullScreen", true));
    XMoveResizeWindow(client.display, main, 10, 10, 300, 200);
    XSync(client.display, False);
    EXPECT_EQ(accessibility.attribute(window, "AXFullScreen"), (std::optional<AXValue>{false}));

    // A window that closed reads nothing and takes nothing.
    XDestroyWindow(client.display, main);
    XDestroyWindow(client.display, other);
    XSync(client.display, False);
    EXPECT_FALSE(accessibility.attribute(window, "AXTitle").has_value());
    EXPECT_FALSE(accessibility.setAttribute(window, "AXPosition", Point{1, 1}));
    EXPECT_EQ(accessibility.attribute(application, "AXWindows"),
              (std::optional<AXValue>{std::vector<AXElement>{}}));
}

TEST(X11Accessibility, AProcessThatIsGoneHasNothingToRead) {
    X11Accessibility accessibility;
    if (!testing::haveDisplay()) {
        testing::expectUntrusted(accessibility);
        return;
    }
    EXPECT_EQ(accessibility.applicationElement(0).id, 0u);
    pid_t gone = 0;
    {
        testing::StandInProcess process;
        gone = process.pid;
    }
    ASSERT_GT(gone, 0);
    AXElement application = accessibility.applicationElement(gone);
    EXPECT_FALSE(accessibility.attribute(application, "AXWindows").has_value());
    EXPECT_FALSE(accessibility.attribute(AXElement{}, "AXWindows").has_value());
    EXPECT_FALSE(accessibility.setAttribute(application, "AXPosition", Point{1, 1}));
}

TEST(X11Support, LayersFollowTheWindowTypeThenTheState) {
    using x11::layer;
    EXPECT_EQ(layer({}, {}, false), 0);
    EXPECT_EQ(layer({"_NET_WM_WINDOW_TYPE_DIALOG"}, {"_NET_WM_STATE_ABOVE"}, false), 3);
    EXPECT_EQ(layer({}, {"_NET_WM_STATE_BELOW"}, false), -1);
    EXPECT_EQ(layer({"_NET_WM_WINDOW_TYPE_DOCK"}, {"_NET_WM_STATE_BELOW"}, false), 20);
    EXPECT_EQ(layer({"_NET_WM_WINDOW_TYPE_POPUP_MENU"}, {}, true), 101);
    EXPECT_LT(layer({"_NET_WM_WINDOW_TYPE_DESKTOP"}, {}, false), -1000000);
    // An unknown (vendor) type first, a known one after it: the known one decides.
    EXPECT_EQ(layer({"_KDE_NET_WM_WINDOW_TYPE_OVERRIDE", "_NET_WM_WINDOW_TYPE_DOCK"}, {}, false), 20);
    // An unmanaged window without a type is a menu or tooltip; with a normal type it is not.
    EXPECT_EQ(layer({}, {}, true), 101);
    EXPECT_EQ(layer({"_NET_WM_WINDOW_TYPE_NORMAL"}, {}, true), 0);
}

TEST(X11Support, TheFirstScreenIsThePrimaryOutputWhenItShowsSomething) {
    const Rect left{0, 0, 1280, 800}, right{1280, 0, 1440, 900};
    EXPECT_EQ(x11::primaryArea({{10, left}, {11, right}}, 11), right);
    // The primary output is off: the first that shows something.
    EXPECT_EQ(x11::primaryArea({{10, std::nullopt}, {11, right}, {12, left}}, 10), right);
    // No primary set (Xvfb): the first output.
    EXPECT_EQ(x11::primaryArea({{10, left}, {11, right}}, 0), left);
    EXPECT_FALSE(x11::primaryArea({{10, std::nullopt}}, 10).has_value());
    EXPECT_FALSE(x11::primaryArea({}, 0).has_value());
}

} // namespace
} // namespace tandem
