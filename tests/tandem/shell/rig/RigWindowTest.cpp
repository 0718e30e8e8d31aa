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
        EXPECT_EQ(text(window, "notesTandem").rfind("A1 · note 36 · ", 0), 0u) << text(window, "notesTandem");
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

} // namespace
} // namespace tandem
