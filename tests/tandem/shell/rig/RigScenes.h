#pragma once

// The simulated Mac brought to where the rig's pictures and window have something to show, and
// reading those pictures back.
#include "support/AppRig.h"

#include <QColor>
#include <QImage>
#include <QPointF>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ostream>

// Colours in failure messages as their names.
inline void PrintTo(const QColor& color, std::ostream* out) {
    *out << color.name().toStdString();
}

namespace tandem::testing {

// MPC TOUCH picked with the MPC and its screen (left of the main one) plugged in, until Koala runs full
// screen on the MPC screen with the overlay's bank panel up.
inline bool bringUpMpcTouch(AppRig& r) {
    r.rig.placeMpcScreen(SimRig::MpcScreen::leftOfMain);
    r.rig.mpc.plug();
    r.launch();
    r.pick(ControllerPick::mpcTouch);
    return r.runUntil(
        [&] {
            SimPanel* banks = r.rig.panels.panelWith("A");
            return r.app->koala() && r.rig.koala.fullScreen() && banks && banks->isVisible();
        },
        90);
}

// PUSH 2 picked with the Push plugged in, until Koala runs and the Push shows a frame and lit pads.
inline bool bringUpPush2(AppRig& r) {
    r.rig.push.plug();
    r.launch();
    r.pick(ControllerPick::push2);
    return r.runUntil(
        [&] { return r.app->koala() && r.rig.pushDisplay.framesShown() > 0 && r.rig.push.padLight(0) > 0; },
        90);
}

inline QColor pixel(const QImage& image, QPointF at) {
    return image.pixelColor(int(std::floor(at.x())), int(std::floor(at.y())));
}

inline int distance(const QColor& a, const QColor& b) {
    return std::max(
        {std::abs(a.red() - b.red()), std::abs(a.green() - b.green()), std::abs(a.blue() - b.blue())});
}

} // namespace tandem::testing
