// The "Tandem rig" window driven as the musician would: the controllers played with the mouse, the MPC
// screen touched, Koala made to misbehave, the switches thrown, and what the window reads back.
#include "RigScenes.h"

#include "base/ActivityLog.h"
#include "tandem/shell/rig/RigArt.h"
#include "tandem/shell/rig/RigText.h"
#include "tandem/shell/rig/RigWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

namespace tandem {
namespace {

using namespace RigGeometry;
using testing::AppRig;

template <class T> T* part(RigWindow& window, const char* name) {
    T* found = window.findChild<T*>(name);
    EXPECT_TRUE(found) << name;
    return found;
}

std::string text(RigWindow& window, const char* label) {
    QLabel* found = part<QLabel>(window, label);
    return found ? found->text().toStdString() : std::string();
}

void click(QWidget* widget, QPointF at) {
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, at.toPoint());
}

// A point of the simulated screens, in display coordinates, as it lies in the screens view.
QPointF inScreensView(AppRig& r, QWidget* view, Point display) {
    const auto screens = r.rig.screens.screens();
    const auto areas = layoutScreens(screens, QRectF(view->rect()), RigArt::screensMargin);
    const Point global = displayFromGlobal(display, screens); // the flip is its own inverse
    for (const ScreenArea& area : areas) {
        if (area.screen.frame.contains(global)) return area.toView(global);
    }
    ADD_FAILURE() << "no screen at " << display.x << ", " << display.y;
    return {};
}

bool inkwellRunning(AppRig& r) {
    for (const RunningApplication& application : r.rig.workspace.runningApplications()) {
        if (application.bundleIdentifier == TandemApp::inkwellBundleID && !application.terminated)
            return true;
    }
    return false;
}

TEST(RigWindow, PlaysTheMpcTouchTouchesItsScreenAndMakesKoalaMisbehave) {
    AppRig r;
    ASSERT_TRUE(r.bringUpMpcTouch()) << r.app->status();
    RigWindow window(r.mac);
    window.show();
    QApplication::processEvents();
    EXPECT_EQ(window.windowTitle(), "Tandem rig");

    QWidget* mpc = part<QWidget>(window, "mpcTouch");
    QWidget* screens = part<QWidget>(window, "screens");
    ASSERT_TRUE(mpc && screens);
    const MpcTouchLayout controls = mpcTouchLayout(QRectF(mpc->rect()));
    {
        SCOPED_TRACE("pad 1 of the MPC plays Koala's A1 through Tandem");
        click(mpc, controls.pads[0].center());
        r.run(0.3);
        const auto played = r.rig.koala.played();
        ASSERT_FALSE(played.empty());
        EXPECT_EQ(played.back().pad, 0);
        EXPECT_EQ(played.back().source, "Tandem");
    }
    {
        SCOPED_TRACE("16 LEVELS on and off, its light following");
        ASSERT_STREQ(mpcButtons[4].title, "16 LEVELS");
        EXPECT_EQ(r.rig.mpc.light(SimMpcTouch::Port::publicPort, 40), 0);
        click(mpc, controls.buttons[4].center());
        r.run(0.5);
        EXPECT_EQ(r.rig.mpc.light(SimMpcTouch::Port::publicPort, 40), 2);
        EXPECT_TRUE(r.app->mpcBridge()->currentChopperMode());
        click(mpc, controls.buttons[4].center());
        r.run(1);
        EXPECT_EQ(r.rig.mpc.light(SimMpcTouch::Port::publicPort, 40), 0);
    }
    {
        SCOPED_TRACE("a touch on the overlay's bank B: Koala shows bank B");
        SimPanel* banks = r.rig.panels.panelWith("B");
        ASSERT_TRUE(banks && banks->isVisible());
        const Rect frame = banks->button(1)->frame;
        const Point global{banks->origin().x + frame.midX(), banks->origin().y + frame.midY()};
        click(screens, inScreensView(r, screens, displayFromGlobal(global, r.rig.screens.screens())));
        ASSERT_TRUE(r.runUntil([&] { return r.rig.koala.shownBank() == 1; }, 3));
    }
    {
        SCOPED_TRACE("a touch on Koala's PERFORM tab reaches Koala through the driver");
        click(screens, inScreensView(r, screens, r.rig.mpcPoint(0.6, 0.05)));
        r.run(0.3);
        EXPECT_EQ(r.rig.koala.page(), "perform");
        ASSERT_FALSE(r.rig.koala.clicks().empty());
        EXPECT_EQ(r.rig.koala.clicks().back().hit, "tab perform");
    }
    {
        SCOPED_TRACE("the driver reset: touches go nowhere until it maps the screen again");
        const size_t clicks = r.rig.koala.clicks().size();
        part<QPushButton>(window, "driverReset")->click();
        EXPECT_EQ(r.rig.touchDriver.agent(), SimTouchDriver::Agent::missing);
        click(screens, inScreensView(r, screens, r.rig.mpcPoint(0.45, 0.05)));
        r.run(0.3);
        EXPECT_EQ(r.rig.koala.page(), "perform");
        EXPECT_EQ(r.rig.koala.clicks().size(), clicks);
        EXPECT_EQ(text(window, "driverState"), "not installed");
    }
    {
        SCOPED_TRACE("what the window reads back");
        ActivityLog::flush();
        window.refresh();
        EXPECT_EQ(text(window, "koalaRunning").rfind("running · pid ", 0), 0u)
            << text(window, "koalaRunning");
        EXPECT_NE(text(window, "koalaRunning").find("full screen"), std::string::npos);
        EXPECT_EQ(text(window, "koalaPage"), "perform");
        EXPECT_EQ(text(window, "koalaBank"), "B");
        EXPECT_EQ(text(window, "koalaProfile"), "MPC Touch");
        EXPECT_EQ(text(window, "koalaSettings"), RigText::settings(r.rig.koala.settings()));
        EXPECT_EQ(text(window, "notesTandem").rfind("A1 · note 36 · ", 0), 0u) << text(window, "notesTandem");
        EXPECT_EQ(text(window, "notesTandemPush"), "—");
        EXPECT_EQ(text(window, "status"), r.app->status());
        const auto lastLines = RigText::tail(AppRig::log(), 1);
        ASSERT_EQ(lastLines.size(), 1u);
        const QString shown = part<QPlainTextEdit>(window, "log")->toPlainText();
        EXPECT_TRUE(shown.trimmed().endsWith(QString::fromStdString(lastLines[0]))) << shown.toStdString();
    }
    {
        SCOPED_TRACE("Koala refuses to quit, then is killed, and Tandem ends with it");
        part<QCheckBox>(window, "refusesQuit")->click();
        EXPECT_TRUE(r.rig.koala.options.refusesQuit);
        const int asked = r.rig.koala.quitRequests();
        part<QPushButton>(window, "koalaQuit")->click();
        r.run(1);
        EXPECT_EQ(r.rig.koala.quitRequests(), asked + 1);
        EXPECT_TRUE(r.rig.koala.running());
        part<QPushButton>(window, "koalaKill")->click();
        r.run(0.5);
        EXPECT_FALSE(r.rig.koala.running());
        EXPECT_TRUE(r.runUntil([&] { return r.ended(); }, 3));
        window.refresh();
        EXPECT_EQ(text(window, "koalaRunning"), "not running");
    }
}

TEST(RigWindow, PlaysThePush2PadsEncodersAndButtons) {
    AppRig r;
    ASSERT_TRUE(r.bringUpPush2()) << r.app->status();
    RigWindow window(r.mac);
    window.show();
    QApplication::processEvents();
    QWidget* push = part<QWidget>(window, "push2");
    ASSERT_TRUE(push);
    const Push2Layout controls = push2Layout(QRectF(push->rect()));
    {
        SCOPED_TRACE("the bottom-left pad plays and selects A1 through the controller");
        click(push, controls.pads[0].center());
        r.run(0.2);
        const auto played = r.rig.koala.played();
        ASSERT_FALSE(played.empty());
        EXPECT_EQ(played.back().pad, 0);
        EXPECT_EQ(played.back().source, "Tandem Push");
        window.refresh();
        EXPECT_EQ(text(window, "notesTandemPush").rfind("A1 · ", 0), 0u) << text(window, "notesTandemPush");
        EXPECT_EQ(text(window, "notesTandem"), "—");
        EXPECT_EQ(text(window, "koalaProfile"), "Push 2");
    }
    {
        SCOPED_TRACE("the wheel over the first encoder turns A1's volume down");
        ASSERT_DOUBLE_EQ(r.rig.koala.song().pads[0].vol, 1.0);
        const QPointF at = controls.encoders[0].center();
        QWheelEvent wheel(at, push->mapToGlobal(at), QPoint(), QPoint(0, -4 * 120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(push, &wheel);
        EXPECT_TRUE(wheel.isAccepted());
        r.run(0.2);
        EXPECT_LT(r.rig.koala.song().pads[0].vol, 1.0);
        // Not over an encoder, the wheel is left to others and turns nothing.
        const size_t sent = r.rig.push.received().size();
        QWheelEvent elsewhere(controls.pads[9].center(), push->mapToGlobal(controls.pads[9].center()),
                              QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                              false);
        QApplication::sendEvent(push, &elsewhere);
        EXPECT_FALSE(elsewhere.isAccepted());
        r.run(0.2);
        EXPECT_EQ(r.rig.push.received().size(), sent);
    }
    {
        SCOPED_TRACE("MIX shows the mixer page, and its light comes on");
        EXPECT_LE(r.rig.push.buttonLight(112), 16);
        click(push, controls.button(112)->rect.center());
        r.run(0.2);
        EXPECT_EQ(r.rig.push.buttonLight(112), 127);
    }
}

TEST(RigWindow, TheSwitchesChangeTheRigAndShowItsState) {
    AppRig r;
    RigWindow window(r.mac);
    window.show();
    QApplication::processEvents();

    auto* mpc = part<QCheckBox>(window, "mpcPlugged");
    auto* push = part<QCheckBox>(window, "pushPlugged");
    auto* inkwell = part<QCheckBox>(window, "inkwellRunning");
    auto* trusted = part<QCheckBox>(window, "accessibilityTrusted");
    auto* installer = part<QCheckBox>(window, "installerNeedsPermission");
    auto* saveDialog = part<QCheckBox>(window, "saveDialog");
    auto* display = part<QComboBox>(window, "mpcDisplay");
    ASSERT_TRUE(mpc && push && inkwell && trusted && installer && saveDialog && display);

    EXPECT_FALSE(mpc->isChecked());
    mpc->click();
    EXPECT_TRUE(r.rig.mpc.plugged());
    mpc->click();
    EXPECT_FALSE(r.rig.mpc.plugged());
    // A change made on the rig itself shows at the next refresh.
    r.rig.mpc.plug();
    window.refresh();
    EXPECT_TRUE(mpc->isChecked());

    push->click();
    EXPECT_TRUE(r.rig.push.plugged());
    push->click();
    EXPECT_FALSE(r.rig.push.plugged());

    inkwell->click();
    EXPECT_TRUE(inkwellRunning(r));
    inkwell->click();
    EXPECT_FALSE(inkwellRunning(r));
    r.rig.workspace.launch(TandemApp::inkwellBundleID, "Inkwell");
    window.refresh();
    EXPECT_TRUE(inkwell->isChecked());

    EXPECT_TRUE(trusted->isChecked());
    trusted->click();
    EXPECT_FALSE(r.rig.accessibility.isProcessTrusted(false));

    installer->click();
    EXPECT_EQ(r.rig.touchDriver.installerStatus(), 10);
    installer->click();
    EXPECT_EQ(r.rig.touchDriver.installerStatus(), 0);

    saveDialog->click();
    EXPECT_EQ(r.rig.koala.options.saveDialogSeconds, RigWindow::saveDialogSeconds);
    saveDialog->click();
    EXPECT_EQ(r.rig.koala.options.saveDialogSeconds, 0);

    EXPECT_EQ(display->currentIndex(), 0);
    Q_EMIT display->activated(1);
    ASSERT_TRUE(r.rig.mpcScreen());
    EXPECT_EQ(r.rig.mpcScreen()->frame, (Rect{-1280, 0, 1280, 800}));
    Q_EMIT display->activated(2);
    EXPECT_EQ(r.rig.mpcScreen()->frame, (Rect{0, 900, 1280, 800}));
    Q_EMIT display->activated(0);
    EXPECT_FALSE(r.rig.mpcScreen());
    r.rig.placeMpcScreen(SimRig::MpcScreen::leftOfMain);
    window.refresh();
    EXPECT_EQ(display->currentIndex(), 1);

    r.rig.touchDriver.setAgent(SimTouchDriver::Agent::running);
    window.refresh();
    EXPECT_EQ(text(window, "driverState"), "running, MPC screen mapped");
    part<QPushButton>(window, "driverReset")->click();
    EXPECT_EQ(r.rig.touchDriver.agent(), SimTouchDriver::Agent::missing);
}

} // namespace
} // namespace tandem
