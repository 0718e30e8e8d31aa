#include "tandem/shell/qt/QtPanels.h"
#include "tandem/looks/CardBackdrop.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <cmath>

namespace tandem {
namespace {

PanelPlan mixerPanel() {
    return {{156, 56}, {{9, "MIXER", {4, 4, 148, 48}, 23, FontWeight::bold}}};
}

// Two buttons stacked, the lower one (y-up) first, so that a click read y-down would hit the other.
PanelPlan stackedPanel() {
    return {{80, 100}, {{1, "low", {0, 0, 80, 50}}, {2, "high", {0, 50, 80, 50}}}};
}

struct Taps {
    std::vector<int> tags;
    std::function<void(int)> recorder() {
        return [this](int tag) { tags.push_back(tag); };
    }
};

QtPanel& asQt(Panel& panel) {
    return dynamic_cast<QtPanel&>(panel);
}

TEST(QtPanel, TopLeftComesFromTheBottomLeftOfThePrimaryScreen) {
    EXPECT_EQ(QtPanel::topLeftFor({100, 50}, 56, QRect(0, 0, 800, 600)), QPoint(100, 494));
    // A primary screen that is not at Qt's origin carries the y-up origin along with it.
    EXPECT_EQ(QtPanel::topLeftFor({8, 736}, 56, QRect(1920, 100, 1280, 800)), QPoint(1928, 108));
    // A panel on a screen left of and above the primary one.
    EXPECT_EQ(QtPanel::topLeftFor({-1272, 736}, 56, QRect(0, 0, 800, 600)), QPoint(-1272, -192));
    EXPECT_EQ(QtPanel::topLeftFor({0.4, 0.6}, 10.2, QRect(0, 0, 800, 600)), QPoint(0, 589));
}

TEST(QtPanel, SetOriginPlacesTheWindowOnThePrimaryScreen) {
    QtPanels panels;
    std::unique_ptr<Panel> panel = panels.makePanel(mixerPanel(), {});
    QRect screen = QGuiApplication::primaryScreen()->geometry();
    ASSERT_FALSE(screen.isEmpty());

    panel->setOrigin({8, 64});
    QWidget* window = asQt(*panel).window();
    EXPECT_EQ(window->geometry(), QRect(screen.x() + 8, screen.y() + screen.height() - 64 - 56, 156, 56));
    panel->orderFront();
    panel->setOrigin({20, 0});
    EXPECT_EQ(window->geometry().bottomLeft() + QPoint(0, 1),
              QPoint(screen.x() + 20, screen.y() + screen.height()))
        << "origin y 0 puts the panel's bottom edge on the screen's";
    EXPECT_EQ(window->pos(), window->geometry().topLeft()) << "frameless: no decoration offset";
}

TEST(QtPanel, IsAFloatingWindowThatNeverTakesFocus) {
    QtPanels panels;
    std::unique_ptr<Panel> panel = panels.makePanel(mixerPanel(), {});
    QWidget* window = asQt(*panel).window();
    Qt::WindowFlags flags = window->windowFlags();
    EXPECT_EQ(window->windowType(), Qt::Tool);
    for (Qt::WindowType flag :
         {Qt::FramelessWindowHint, Qt::WindowStaysOnTopHint, Qt::WindowDoesNotAcceptFocus})
        EXPECT_TRUE(flags.testFlag(flag)) << flag;
    EXPECT_TRUE(window->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_FALSE(window->testAttribute(Qt::WA_QuitOnClose));

    // The offscreen platform activates every window it shows, so whether showing activates is for a
    // real window system; here, that the platform window is asked not to take focus.
    panel->orderFront();
    ASSERT_NE(window->windowHandle(), nullptr);
    EXPECT_TRUE(window->windowHandle()->flags().testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_EQ(window->focusPolicy(), Qt::NoFocus);
}

TEST(QtPanel, OrderingShowsHidesAndCloseIsFinal) {
    QtPanels panels;
    std::unique_ptr<Panel> panel = panels.makePanel(mixerPanel(), {});
    EXPECT_FALSE(panel->isVisible()) << "a new panel is not yet shown";
    panel->orderFront();
    EXPECT_TRUE(panel->isVisible());
    panel->orderOut();
    EXPECT_FALSE(panel->isVisible());
    EXPECT_TRUE(asQt(*panel).window()->isHidden());
    panel->orderFront();
    EXPECT_TRUE(panel->isVisible());
    panel->close();
    EXPECT_FALSE(panel->isVisible());
    panel->orderFront();
    EXPECT_FALSE(panel->isVisible()) << "a closed panel stays closed";
}

TEST(QtPanel, ClickOnAButtonTapsItsTag) {
    Taps taps;
    QtPanels panels;
    std::unique_ptr<Panel> panel = panels.makePanel(stackedPanel(), taps.recorder());
    panel->orderFront();
    QWidget* window = asQt(*panel).window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));

    QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(40, 20)); // the upper half: "high", y-up 50-100
    QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(40, 80)); // the lower half: "low"
    EXPECT_EQ(taps.tags, (std::vector<int>{2, 1}));
}

TEST(QtPanel, OnlyAPressAndReleaseOnOneButtonIsATap) {
    Taps taps;
    QtPanels panels;
    std::unique_ptr<Panel> panel = panels.makePanel(mixerPanel(), taps.recorder());
    panel->orderFront();
    QWidget* window = asQt(*panel).window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));

    QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(2, 2)); // the margin
    QTest::mouseClick(window, Qt::RightButton, {}, QPoint(78, 28));
    QTest::mousePress(window, Qt::LeftButton, {}, QPoint(78, 28));
    QTest::mouseRelease(window, Qt::LeftButton, {}, QPoint(155, 55)); // slid off before lifting
    EXPECT_TRUE(taps.tags.empty());
    QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(78, 28));
    EXPECT_EQ(taps.tags, std::vector<int>{9});
}

TEST(QtPanel, SetButtonReplacesThatButtonAndRepaints) {
    QtPanels panels;
    PanelPlan plan = stackedPanel();
    std::unique_ptr<Panel> panel = panels.makePanel(plan, {});
    QtPanel& qt = asQt(*panel);
    panel->orderFront();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(qt.window()));
    // What the window system shows, so that a change made without a repaint is not seen.
    auto edgeRed = [&] {
        QCoreApplication::processEvents();
        QImage shown = QGuiApplication::primaryScreen()->grabWindow(qt.window()->winId()).toImage();
        return shown.pixelColor(1, 75).red();
    };
    int before = edgeRed();

    PanelButton low = plan.buttons[0];
    low.title = "LOW";
    low.on = true;
    low.tint = PanelTint::accent;
    panel->setButton(low);
    EXPECT_EQ(qt.plan().buttons[0], low);
    EXPECT_EQ(qt.plan().buttons[1], plan.buttons[1]) << "the other button is untouched";
    EXPECT_EQ(qt.plan().buttons.size(), 2u);
    EXPECT_NE(edgeRed(), before) << "the window shows the new state";
    EXPECT_NEAR(edgeRed(), CardBackdrop::accent.red(), 30);

    panel->setButton({42, "stranger"});
    EXPECT_EQ(qt.plan().buttons.size(), 2u) << "no button with that tag: nothing added";
}

} // namespace
} // namespace tandem
