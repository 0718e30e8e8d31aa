#include "tandem/looks/KoalaLook.h"
#include "tandem/looks/TandemCardArt.h"
#include "tandem/shell/qt/QtCardWindow.h"
#include "tandem/shell/qt/QtChoiceWindow.h"

#include "tandem/shell/qt/ArtProbes.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

namespace tandem {
namespace {

using probes::nearRgb;

// Real windows on the X server, read back from the screen as a person would see them.
class OnXServer : public ::testing::Test {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "no X server answers on DISPLAY, so no real window can be shown";
        screen = QGuiApplication::primaryScreen();
        ASSERT_NE(screen, nullptr);
    }

    // The screen's pixels in Qt's global coordinates, once `ready` holds for them (the server shows
    // a window's paint in its own time).
    QImage shown(const QRect& area, const std::function<bool(const QImage&)>& ready) {
        QImage image;
        // Whether it came or not, the last picture is what the test then judges.
        (void)QTest::qWaitFor(
            [&] {
                QCoreApplication::processEvents();
                image = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
                return ready(image);
            },
            5000);
        return image;
    }

    QScreen* screen = nullptr;
};

TEST_F(OnXServer, TheChoiceWindowShowsKoalasLookAndAPressTurnsAButtonPink) {
    QtChoiceWindow choice;
    std::vector<ControllerPick> picks;
    choice.onChoose = [&](ControllerPick pick) { picks.push_back(pick); };
    choice.show();
    QWidget* window = choice.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    const QRect area(window->mapToGlobal(QPoint(0, 0)), QSize(720, 380));
    const QPoint touch(45, 206); // inside MPC TOUCH, left of its title

    const QImage image =
        shown(area, [&](const QImage& i) { return nearRgb(KoalaLook::blue, 2)(i.pixelColor(touch)); });
    ASSERT_EQ(image.size(), QSize(720, 380));
    EXPECT_TRUE(nearRgb(KoalaLook::background, 1)(image.pixelColor(5, 5)));
    EXPECT_TRUE(nearRgb(KoalaLook::blue, 2)(image.pixelColor(touch)));
    EXPECT_TRUE(nearRgb(KoalaLook::blue, 2)(image.pixelColor(385, 206))) << "PUSH 2";
    EXPECT_TRUE(nearRgb(KoalaLook::blue, 2)(image.pixelColor(45, 311))) << "WEBCAM SETUP";
    EXPECT_FALSE(probes::box(image, QRect(35, 34, 650, 60), nearRgb(KoalaLook::pink, 20)).isEmpty())
        << "TANDEM";
    EXPECT_FALSE(probes::box(image, QRect(35, 106, 650, 32), nearRgb(Qt::white, 20)).isEmpty());
    EXPECT_TRUE(probes::box(image, QRect(0, 0, 720, 30), nearRgb(KoalaLook::pink, 20)).isEmpty())
        << "nothing pink above the title's frame";

    QAbstractButton* button = nullptr;
    for (auto* candidate : window->findChildren<QAbstractButton*>())
        if (candidate->text() == "MPC TOUCH") button = candidate;
    ASSERT_NE(button, nullptr);
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(10, 37));
    const QImage pressed =
        shown(area, [&](const QImage& i) { return nearRgb(KoalaLook::pink, 2)(i.pixelColor(touch)); });
    EXPECT_TRUE(nearRgb(KoalaLook::pink, 2)(pressed.pixelColor(touch)));
    EXPECT_TRUE(nearRgb(KoalaLook::blue, 2)(pressed.pixelColor(385, 206))) << "only the pressed one";
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(10, 37));
    EXPECT_EQ(picks, std::vector<ControllerPick>{ControllerPick::mpcTouch});
    EXPECT_FALSE(choice.isVisible());
}

TEST_F(OnXServer, ACardIsPlacedFromTheBottomLeftAndShowsItsStatusInFrontWithoutTakingFocus) {
    // The choice window first, as at start-up; the card then comes in front of it.
    QtChoiceWindow choice;
    choice.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(choice.window()));
    QWindow* focusedBefore = QGuiApplication::focusWindow();

    const Rect frame{300, 200, 640, 400};
    QtCardWindow card({frame, false, "Waiting for the MPC's screen"});
    const QRect primary = screen->geometry();
    const QRect expected(primary.x() + 300, primary.y() + primary.height() - 200 - 400, 640, 400);
    EXPECT_EQ(card.window()->geometry(), expected);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(card.window()));
    EXPECT_EQ(card.window()->mapToGlobal(QPoint(0, 0)), expected.topLeft()) << "where the server put it";

    // The server keeps the window's pixels as drawn, so the screen holds the card's picture itself.
    auto showing = [&](const std::string& status) {
        const QImage art = TandemCardArt::render({640, 400}, status);
        return [art](const QImage& image) { return probes::difference(image, art).largest <= 2; };
    };
    const std::string first = "Waiting for the MPC's screen", second = "Koala is open on the MPC";
    ASSERT_GT(probes::difference(TandemCardArt::render({640, 400}, first),
                                 TandemCardArt::render({640, 400}, second))
                  .largest,
              100)
        << "the two statuses look different";
    QImage image = shown(expected, showing(first));
    EXPECT_TRUE(showing(first)(image)) << "the card with its first status";

    card.setStatus(second);
    image = shown(expected, showing(second));
    EXPECT_TRUE(showing(second)(image)) << "redrawn with the new status";

    QCoreApplication::processEvents();
    EXPECT_NE(QGuiApplication::focusWindow(), card.window()->windowHandle()) << "the card never takes focus";
    EXPECT_EQ(QGuiApplication::focusWindow(), focusedBefore);

    card.close();
    const QImage after =
        shown(expected, [&](const QImage& i) { return probes::difference(i, image).mean > 5; });
    EXPECT_GT(probes::difference(after, image).mean, 5) << "the card is gone from the screen";
}

} // namespace
} // namespace tandem
