#include "platform/qt/QtScreens.h"

#include "base/ThreadQueue.h"
#include "support/ScratchHome.h"

#include <QGuiApplication>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <regex>

// Xlib last: its macros clash with names in Qt's headers.
#include "X11TestClient.h"
#include "platform/linux/X11Support.h"

#include <X11/extensions/Xrandr.h>

#include <cstring>

namespace tandem {
namespace {

using testing::ScratchHome;

// Waits for a condition while Qt's events are handled, as the application's thread does.
template <class F> bool pumping(F condition, double seconds = 5) {
    return testing::eventually(
        [&] {
            QCoreApplication::processEvents();
            return condition();
        },
        seconds);
}

// Sets the single output of a virtual X server to a new size, and back when it goes.
class ScreenSize {
public:
    explicit ScreenSize(testing::XClient& client)
        : client(client) {
        resources = XRRGetScreenResourcesCurrent(client.display, client.root());
        XRRCrtcInfo* crtc = XRRGetCrtcInfo(client.display, resources, resources->crtcs[0]);
        originalMode = crtc->mode;
        original = {0, 0, double(crtc->width), double(crtc->height)};
        XRRFreeCrtcInfo(crtc);
    }
    ~ScreenSize() {
        set(originalMode, original);
        XRRFreeScreenResources(resources);
    }

    void resize(unsigned width, unsigned height) {
        char name[32];
        std::snprintf(name, sizeof name, "tandem-%ux%u", width, height);
        XRRModeInfo info{};
        info.width = width;
        info.height = height;
        info.dotClock = 60ul * width * height;
        info.hSyncStart = info.hSyncEnd = info.hTotal = width;
        info.vSyncStart = info.vSyncEnd = info.vTotal = height;
        info.name = name;
        info.nameLength = unsigned(std::strlen(name));
        RRMode mode = XRRCreateMode(client.display, client.root(), &info);
        XRRAddOutputMode(client.display, resources->outputs[0], mode);
        set(mode, {0, 0, double(width), double(height)});
    }

    Rect original;

private:
    void set(RRMode mode, Rect size) {
        // The CRTC must fit the screen at every step: off, the screen's new size, then on again.
        XGrabServer(client.display);
        XRRSetCrtcConfig(client.display, resources, resources->crtcs[0], CurrentTime, 0, 0, None, RR_Rotate_0,
                         nullptr, 0);
        XRRSetScreenSize(client.display, client.root(), int(size.width), int(size.height),
                         int(size.width * 254 / 960), int(size.height * 254 / 960));
        XRRSetCrtcConfig(client.display, resources, resources->crtcs[0], CurrentTime, 0, 0, mode, RR_Rotate_0,
                         &resources->outputs[0], 1);
        XUngrabServer(client.display);
        XSync(client.display, False);
    }

    testing::XClient& client;
    XRRScreenResources* resources = nullptr;
    RRMode originalMode = 0;
};

TEST(QtScreens, UuidsComeFromTheWholeEdidInTheStandardForm) {
    std::string edid(256, '\0');
    for (size_t i = 0; i < edid.size(); ++i)
        edid[i] = char(i * 7);
    auto uuid = QtScreens::uuidFor(edid);
    ASSERT_TRUE(uuid.has_value());
    EXPECT_TRUE(std::regex_match(
        *uuid, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-8[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")))
        << *uuid;
    EXPECT_EQ(QtScreens::uuidFor(edid), uuid);
    std::string extension = edid;
    extension[200] ^= 1; // a change past the base block still counts
    EXPECT_NE(QtScreens::uuidFor(extension), uuid);
    EXPECT_FALSE(QtScreens::uuidFor(edid.substr(0, 127)).has_value());
}

TEST(QtScreens, ListsTheServersScreensPrimaryFirstWithStableNumbers) {
    QtScreens screens;
    testing::XClient client;
    auto list = screens.screens();
    ASSERT_FALSE(list.empty());
    const Screen& first = list.front();
    EXPECT_EQ(first.number, QtScreens::numberFor(first.name));
    EXPECT_EQ(first.frame.origin(), (Point{0, 0}));
    EXPECT_EQ(screens.screens(), list);
    if (!client) {
        // The offscreen platform: one made-up screen, no output behind it.
        ASSERT_EQ(list.size(), 1u);
        EXPECT_FALSE(first.uuid.has_value());
        return;
    }
    // What Qt says matches what the server says: the first screen's size, every output listed.
    auto outputs = x11::monitors(client.display);
    EXPECT_EQ(list.size(), outputs.size());
    const Point origin = x11::primaryOrigin(client.display);
    auto primary =
        std::find_if(outputs.begin(), outputs.end(), [&](const Rect& r) { return r.origin() == origin; });
    ASSERT_NE(primary, outputs.end());
    EXPECT_EQ(first.frame.size(), primary->size());
    if (first.name != "screen") return; // a real display's output; Xvfb calls its own "screen"
    EXPECT_EQ(first.frame, (Rect{0, 0, 1440, 900}));
    EXPECT_EQ(first.visibleFrame, first.frame); // no window manager keeps any of it for itself
    EXPECT_FALSE(first.uuid.has_value());

    // An EDID for the output's connector gives the screen a UUID.
    ScratchHome home;
    std::string edid(128, '\x5A');
    ScratchHome::write(home.path() / "card0-screen" / "edid", edid);
    auto withEdid = QtScreens(home.path()).screens();
    ASSERT_FALSE(withEdid.empty());
    EXPECT_EQ(withEdid.front().uuid, QtScreens::uuidFor(edid));
    EXPECT_EQ(withEdid.front().number, first.number);
}

TEST(QtScreens, ObservesALayoutChangeOnItsQueueUntilTheTokenGoes) {
    QtScreens screens;
    auto queue = std::make_shared<ThreadQueue>("screens");
    std::atomic<int> calls{0};
    auto token = screens.observeChanges(queue, [&] { ++calls; });
    ASSERT_NE(token, nullptr);
    testing::XClient client;
    auto list = screens.screens();
    if (!client || list.empty() || list.front().name != "screen") {
        // Offscreen, or a real display whose layout a test must not change: nothing happens by itself.
        pumping([] { return false; }, 0.3);
        queue->sync([] {});
        EXPECT_EQ(calls, 0);
        return;
    }
    {
        ScreenSize size(client);
        size.resize(1280, 800);
        ASSERT_TRUE(pumping([&] {
            auto now = screens.screens();
            return calls > 0 && !now.empty() && now.front().frame == Rect{0, 0, 1280, 800};
        }));
        EXPECT_EQ(screens.screens().front().number, list.front().number); // the same output, the same number
        calls = 0;
    } // back to the original size
    ASSERT_TRUE(pumping([&] { return calls > 0 && screens.screens().front().frame == list.front().frame; }));

    token.reset();
    calls = 0;
    {
        ScreenSize size(client);
        size.resize(1024, 768);
        pumping([&] { return screens.screens().front().frame.width == 1024; });
    }
    pumping([&] { return screens.screens().front().frame == list.front().frame; });
    queue->sync([] {});
    EXPECT_EQ(calls, 0);
}

TEST(QtScreens, FindsAnOutputsEdidByItsConnectorName) {
    ScratchHome home;
    auto drm = home.path() / "drm";
    ScratchHome::write(drm / "card0-HDMI-A-1" / "edid", std::string(128, 'h'));
    ScratchHome::write(drm / "card0-DP-1" / "edid", std::string(128, 'd'));
    EXPECT_EQ(QtScreens::edidFile(drm, "DP-1"), drm / "card0-DP-1" / "edid");
    EXPECT_EQ(QtScreens::edidFile(drm, "HDMI-A-1"), drm / "card0-HDMI-A-1" / "edid");
    EXPECT_EQ(QtScreens::edidFile(drm, "HDMI-1"), drm / "card0-HDMI-A-1" / "edid"); // X's name for it
    EXPECT_FALSE(QtScreens::edidFile(drm, "HDMI-2").has_value());
    EXPECT_FALSE(QtScreens::edidFile(drm, "").has_value());
    EXPECT_FALSE(QtScreens::edidFile(home.path() / "missing", "DP-1").has_value());
}

} // namespace
} // namespace tandem
