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

struct Taps {
    std::vector<int> tags;
    std::function<void(int)> recorder() {
        return [this](int tag) { tags.push_back(tag); };
    }
};

QtPanel& asQt(Panel& panel) {
    return dynamic_cast<QtPanel&>(panel);
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

} // namespace
} // namespace tandem
