#include "tandem/shell/qt/QtCardWindow.h"
#include "tandem/looks/TandemCardArt.h"

#include "tandem/shell/qt/ArtProbes.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

namespace tandem {
namespace {

// Counts the paints a widget receives.
class PaintCounter final : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
};

TEST(QtCardWindow, IsAFloatingCardAtItsFrameThatNeverTakesFocus) {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    ASSERT_FALSE(screen.isEmpty());
    QtCardWindow card({{40, 20, 480, 300}, false, "Waiting for Koala"});
    QWidget* window = card.window();
    EXPECT_TRUE(window->isVisible()) << "ordered front at once";
    EXPECT_EQ(window->geometry(), QRect(screen.x() + 40, screen.y() + screen.height() - 20 - 300, 480, 300));
    EXPECT_EQ(card.status(), "Waiting for Koala");

    EXPECT_EQ(window->windowType(), Qt::Tool);
    for (Qt::WindowType flag :
         {Qt::FramelessWindowHint, Qt::WindowStaysOnTopHint, Qt::WindowDoesNotAcceptFocus})
        EXPECT_TRUE(window->windowFlags().testFlag(flag)) << flag;
    EXPECT_TRUE(window->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_FALSE(window->testAttribute(Qt::WA_QuitOnClose));
    EXPECT_EQ(window->focusPolicy(), Qt::NoFocus);
    ASSERT_NE(window->windowHandle(), nullptr);
    EXPECT_TRUE(window->windowHandle()->flags().testFlag(Qt::WindowDoesNotAcceptFocus));
}

TEST(QtCardWindow, ShowsTheCardOfItsSizeAndRedrawsForEveryStatus) {
    QtCardWindow card({{0, 0, 640, 400}, false, "Starting"});
    QWidget* window = card.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    EXPECT_LE(
        probes::difference(window->grab().toImage(), TandemCardArt::render({640, 400}, "Starting")).largest,
        1);

    PaintCounter counter;
    window->installEventFilter(&counter);
    card.setStatus("MPC touch ready");
    EXPECT_EQ(card.status(), "MPC touch ready");
    ASSERT_TRUE(QTest::qWaitFor([&] { return counter.paints > 0; }));
    const int afterChange = counter.paints;
    card.setStatus("MPC touch ready");
    EXPECT_TRUE(QTest::qWaitFor([&] { return counter.paints > afterChange; })) << "the same text redraws too";
    EXPECT_LE(
        probes::difference(window->grab().toImage(), TandemCardArt::render({640, 400}, "MPC touch ready"))
            .largest,
        1);
    window->removeEventFilter(&counter);
}

} // namespace
} // namespace tandem
