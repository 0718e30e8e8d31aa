// Run with $DISPLAY naming a server that is not there: every adapter that needs X answers as
// documented, at once, and nothing crashes or hangs.

#include "platform/qt/QtScreens.h"

#include "NoDisplayExpectations.h"

#include <QGuiApplication>
#include <QScreen>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

// Xlib last: its macros clash with names in Qt's headers.
#include <X11/Xlib.h>

namespace tandem {
namespace {

class WithoutDisplay : public ::testing::Test {
protected:
    void SetUp() override {
        const char* name = std::getenv("DISPLAY");
        ASSERT_NE(name, nullptr) << "this program runs with DISPLAY naming an absent server";
        Display* display = XOpenDisplay(nullptr);
        if (display) XCloseDisplay(display);
        ASSERT_EQ(display, nullptr) << "an X server answers on " << name;
        started = std::chrono::steady_clock::now();
    }
    void TearDown() override {
        // Failing cleanly means failing fast too: no connection attempt may wait for long.
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
    }
    std::chrono::steady_clock::time_point started;
};

TEST_F(WithoutDisplay, TheWorkspaceStillListsProcessesButActivatesNothing) {
    std::ifstream comm("/proc/self/comm");
    std::string self;
    std::getline(comm, self);
    LinuxWorkspace workspace(LinuxWorkspace::Names{{"com.example.self", self}});
    testing::expectNoActivation(workspace);
    auto running = workspace.runningApplications();
    EXPECT_TRUE(std::any_of(running.begin(), running.end(),
                            [](const RunningApplication& a) { return a.processIdentifier == ::getpid(); }));
    auto queue = std::make_shared<ThreadQueue>("workspace");
    std::atomic<int> calls{0};
    {
        auto token = workspace.observe(WorkspaceNotice::didActivate, queue,
                                       [&](const RunningApplication&) { ++calls; });
        std::this_thread::sleep_for(std::chrono::duration<double>(LinuxWorkspace::pollInterval * 2));
    }
    queue->sync([] {});
    EXPECT_EQ(calls, 0);
}

TEST_F(WithoutDisplay, ScreensNeedAnApplicationAndOffscreenHasOneMadeUpScreen) {
    QtScreens screens;
    auto queue = std::make_shared<ThreadQueue>("screens");
    std::atomic<int> calls{0};
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    EXPECT_TRUE(screens.screens().empty());
    auto silent = screens.observeChanges(queue, [&] { ++calls; });
    ASSERT_NE(silent, nullptr);
    {
        // Qt's offscreen platform, as a program without a display would run.
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        int argc = 1;
        char name[] = "platform_headless_tests";
        char* argv[] = {name, nullptr};
        QGuiApplication application(argc, argv);
        auto list = screens.screens();
        ASSERT_EQ(list.size(), 1u);
        QScreen* only = QGuiApplication::primaryScreen();
        EXPECT_EQ(list[0].frame,
                  (Rect{0, 0, double(only->geometry().width()), double(only->geometry().height())}));
        EXPECT_EQ(list[0].visibleFrame, list[0].frame);
        EXPECT_EQ(list[0].name, only->name().toStdString()); // Qt 6.4 leaves it empty
        EXPECT_FALSE(list[0].uuid.has_value());
        auto token = screens.observeChanges(queue, [&] { ++calls; });
        QCoreApplication::processEvents();
    }
    EXPECT_TRUE(screens.screens().empty()); // the application went
    queue->sync([] {});
    EXPECT_EQ(calls, 0);
}

} // namespace
} // namespace tandem
