#pragma once

// The whole application on the simulated Mac in virtual time, for tests: a scratch home folder and the
// simulated Mac running Tandem on it.
#include "base/ActivityLog.h"
#include "platform/TandemIdentity.h"
#include "support/ScratchHome.h"
#include "tandem/app/SimulatedMac.h"

#include <memory>
#include <string>

namespace tandem::testing {

struct AppRig {
    ScratchHome home;
    SimulatedMac mac{home.path() / "rig"};
    SimRig& rig = mac.rig;
    SimDesktop& desktop = mac.desktop;
    SimDefaults& defaults = mac.defaults;
    std::shared_ptr<TandemApp>& app = mac.app;

    bool ended() const { return mac.ended(); }
    double endedAt() const { return mac.endedAt(); }

    // Tandem starts: the choice window is up.
    void launch() { mac.launch(); }
    void pick(ControllerPick pick) {
        desktop.choice()->choose(pick);
        rig.time.advance(0.01);
    }
    void run(double seconds) { rig.time.advance(seconds); }
    // Runs until `done` holds, in steps of `step`, for at most `seconds`; whether it came.
    template <class Done> bool runUntil(Done done, double seconds, double step = 0.05) {
        for (double t = 0; t < seconds; t += step) {
            if (done()) return true;
            rig.time.advance(step);
        }
        return done();
    }

    // MPC TOUCH picked with the MPC and its screen (left of the main one) plugged in, until Koala runs
    // full screen on the MPC screen with the overlay's bank panel up.
    bool bringUpMpcTouch() {
        rig.placeMpcScreen(SimRig::MpcScreen::leftOfMain);
        rig.mpc.plug();
        launch();
        pick(ControllerPick::mpcTouch);
        return runUntil(
            [&] {
                SimPanel* banks = rig.panels.panelWith("A");
                return app->koala() && rig.koala.fullScreen() && banks && banks->isVisible();
            },
            90);
    }
    // PUSH 2 picked with the Push plugged in, until Koala runs and the Push shows a frame and lit pads.
    bool bringUpPush2() {
        rig.push.plug();
        launch();
        pick(ControllerPick::push2);
        return runUntil(
            [&] { return app->koala() && rig.pushDisplay.framesShown() > 0 && rig.push.padLight(0) > 0; },
            90);
    }

    static std::string log() {
        ActivityLog::flush();
        return ScratchHome::read(ActivityLog::path());
    }
    static size_t count(const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
            ++n;
        return n;
    }
};

} // namespace tandem::testing
