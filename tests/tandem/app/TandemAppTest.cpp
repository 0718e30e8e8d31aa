// The application on the simulated Mac in virtual time: picking a controller, the start-up paths and
// their retries, Koala watched while it runs, and Tandem's end.
#include "support/AppRig.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tandem {
namespace {

using testing::AppRig;

bool hasStatus(const AppRig& r, const std::string& text) {
    return std::find(r.desktop.toolTips.begin(), r.desktop.toolTips.end(), text) != r.desktop.toolTips.end();
}

TEST(TandemApp, LaunchingShowsTheMenusAndTheChoiceWindow) {
    AppRig r;
    r.launch();
    EXPECT_EQ(r.desktop.activationPolicy, ActivationPolicy::regular);
    ASSERT_EQ(r.desktop.menu.size(), 6u);
    EXPECT_EQ(r.desktop.menu[1].title, "Choose Controller…");
    EXPECT_EQ(r.desktop.menu[5].mainKey, "q");
    // No Webcam window yet: its entries wait for it.
    EXPECT_FALSE(r.desktop.trigger("Webcam…"));
    ASSERT_TRUE(r.desktop.choice());
    EXPECT_TRUE(r.desktop.choice()->isVisible());
    EXPECT_GE(r.desktop.activations, 1);
    EXPECT_NE(r.log().find("Tandem 1.0 started"), std::string::npos);
    EXPECT_FALSE(r.app->choice());
}

TEST(TandemApp, ASecondTandemWakesTheFirstAndEndsBeforeShowingAnything) {
    AppRig r;
    const int32_t first = r.rig.workspace.launch(tandemBundleIdentifier, "Tandem");
    r.launch();
    EXPECT_TRUE(r.desktop.terminateRequested);
    EXPECT_EQ(r.rig.workspace.activations(first), 1);
    EXPECT_TRUE(r.desktop.menu.empty());
    EXPECT_FALSE(r.desktop.choice());
    EXPECT_TRUE(r.desktop.cards.empty());
}

TEST(TandemApp, TheMpcPathFromNothingToKoalaOnTheMpcScreen) {
    AppRig r;
    r.rig.placeMpcScreen(SimRig::MpcScreen::leftOfMain);
    r.rig.mpc.plug();
    r.launch();
    r.pick(ControllerPick::mpcTouch);
    EXPECT_FALSE(r.desktop.choice()->isVisible());
    EXPECT_EQ(r.app->status(), "Starting the MPC Touch…");
    EXPECT_EQ(r.desktop.openCards().size(), 2u);

    ASSERT_TRUE(r.runUntil([&] { return r.app->koala().has_value(); }, 90)) << r.app->status();
    EXPECT_TRUE(hasStatus(r, "Koala is running on the MPC Touch"));
    EXPECT_TRUE(r.desktop.openCards().empty());
    ASSERT_TRUE(r.app->touchOverlay());
    EXPECT_TRUE(r.rig.koala.fullScreen());

    // Routing is on: a pad on the MPC plays Koala.
    r.rig.mpc.pressPad(0);
    r.rig.mpc.releasePad(0);
    r.run(0.2);
    EXPECT_FALSE(r.rig.koala.played().empty());
}

// Runs in small steps and notes the virtual time of every status line set.
struct Timeline {
    AppRig& r;
    std::vector<std::pair<double, std::string>> lines;
    size_t seen = 0;
    explicit Timeline(AppRig& rig)
        : r(rig)
        , seen(rig.desktop.toolTips.size()) {}
    void run(double seconds, double step = 0.01) {
        for (double t = 0; t < seconds - 1e-9; t += step) {
            r.run(step);
            note();
        }
    }
    void note() {
        for (; seen < r.desktop.toolTips.size(); ++seen)
            lines.emplace_back(r.rig.time.now(), r.desktop.toolTips[seen]);
    }
    std::vector<double> times(const std::string& text) const {
        std::vector<double> found;
        for (const auto& [at, line] : lines) {
            if (line == text) found.push_back(at);
        }
        return found;
    }
};

TEST(TandemApp, ALateTouchResultOfAnEarlierPickIsIgnored) {
    AppRig r;
    r.rig.placeMpcScreen(SimRig::MpcScreen::leftOfMain);
    r.rig.touchDriver.setLaunchctlHangs(true); // the check takes seconds
    r.rig.push.plug();
    r.launch();
    r.pick(ControllerPick::mpcTouch);
    r.run(0.5);
    ASSERT_TRUE(r.app->isPreparing());
    ASSERT_TRUE(r.desktop.trigger("Choose Controller…"));
    r.pick(ControllerPick::push2);
    Timeline after(r);
    after.run(15, 0.05);
    EXPECT_EQ(r.app->choice(), KoalaControllerChoice::push2);
    for (const auto& [at, line] : after.lines)
        EXPECT_EQ(line.find("ouch"), std::string::npos) << line << " at " << at;
    EXPECT_TRUE(r.desktop.openCards().empty());
    EXPECT_TRUE(hasStatus(r, "Koala is running with Push 2"));
}

// The same status set again (Inkwell's, every 3 s) is logged once and still redraws every card.
TEST(TandemApp, InkwellHoldingTheMpcStopsEverythingUntilItQuits) {
    AppRig r;
    r.rig.placeMpcScreen(SimRig::MpcScreen::leftOfMain);
    r.rig.mpc.plug();
    r.rig.workspace.launch(TandemApp::inkwellBundleID, "Inkwell");
    r.launch();
    r.pick(ControllerPick::mpcTouch);
    Timeline timeline(r);
    timeline.run(10);
    EXPECT_EQ(r.app->status(), TandemApp::inkwellMessage);
    // Said every 3 s (the cards redraw), logged once, and nothing else happens.
    const auto cards = r.desktop.openCards();
    ASSERT_EQ(cards.size(), 2u);
    EXPECT_EQ(cards[0]->status, TandemApp::inkwellMessage);
    for (const auto& card : cards)
        EXPECT_EQ(card->redraws, 4); // at 0, 3, 6 and 9 s
    EXPECT_EQ(AppRig::count(r.log(), TandemApp::inkwellMessage), 1u);
    EXPECT_TRUE(r.app->hasRetryPending());

    r.rig.workspace.forceQuit(TandemApp::inkwellBundleID);
    timeline.run(3);
    EXPECT_EQ(timeline.times("Starting the MPC Touch…").size(), 1u);
    ASSERT_TRUE(r.runUntil([&] { return r.app->koala().has_value(); }, 90)) << r.app->status();
}

TEST(TandemApp, RetriesStartOnceWhenTheScreenArrivesAndThreeSecondsAfterAPushFailure) {
    {
        SCOPED_TRACE("no MPC screen yet");
        AppRig r;
        r.rig.mpc.plug();
        r.launch();
        r.pick(ControllerPick::mpcTouch);
        Timeline timeline(r);
        // The MPC's screen arrives while Tandem waits: it starts at once, and only once.
        ASSERT_TRUE(r.runUntil([&] { return r.app->hasRetryPending() && !r.app->isPreparing(); }, 20, 0.01));
        timeline.note();
        const size_t before = timeline.times("Starting the MPC Touch…").size();
        r.rig.placeMpcScreen(SimRig::MpcScreen::leftOfMain);
        timeline.run(0.02);
        EXPECT_EQ(timeline.times("Starting the MPC Touch…").size(), before + 1);
        ASSERT_TRUE(r.runUntil([&] { return r.app->koala().has_value(); }, 90)) << r.app->status();
        timeline.note();
        EXPECT_EQ(timeline.times("Starting the MPC Touch…").size(), before + 1);
    }
    {
        SCOPED_TRACE("the Push bridge fails to start: 3 s");
        AppRig r;
        r.rig.push.plug();
        r.launch();
        r.rig.midi.failNext(SimMidiSystem::Call::clientCreate, midiInvalidClient);
        r.pick(ControllerPick::push2);
        EXPECT_EQ(r.app->status(), "Push MIDI setup failed (-10830)");
        EXPECT_FALSE(r.app->push());
        Timeline timeline(r);
        timeline.run(2.99);
        EXPECT_FALSE(r.app->push());
        timeline.run(0.02);
        EXPECT_TRUE(r.app->push());
        ASSERT_TRUE(r.runUntil([&] { return r.app->koala().has_value(); }, 60)) << r.app->status();
    }
}

TEST(TandemApp, AccessibilityIsAskedForOncePerRun) {
    AppRig r;
    r.rig.placeMpcScreen(SimRig::MpcScreen::leftOfMain);
    r.rig.mpc.plug();
    r.rig.accessibility.setTrusted(false);
    r.launch();
    r.pick(ControllerPick::mpcTouch);
    r.run(40);
    EXPECT_TRUE(hasStatus(r, description(KoalaIntegrationError::accessibilityRequired)));
    EXPECT_EQ(r.rig.accessibility.prompts(), 1);
    EXPECT_FALSE(r.app->koala());
}

TEST(TandemApp, TandemEndsWithKoalaEvenWhenKilledWithoutANotice) {
    {
        AppRig r;
        ASSERT_TRUE(r.bringUpMpcTouch()) << r.app->status();
        const double killedAt = r.rig.time.now();
        r.rig.workspace.vanish(r.app->koala()->processIdentifier);
        r.run(2.5);
        ASSERT_TRUE(r.ended());
        EXPECT_LE(r.endedAt() - killedAt, 2.0 + 1e-6);
        EXPECT_NE(r.log().find("Koala has quit"), std::string::npos);
        EXPECT_NE(r.log().find("Tandem quit"), std::string::npos);
    }
    {
        SCOPED_TRACE("a process that refuses the signal is alive");
        AppRig r;
        ASSERT_TRUE(r.bringUpMpcTouch()) << r.app->status();
        const int32_t koala = r.app->koala()->processIdentifier;
        r.rig.processes.refuseSignals(koala);
        r.rig.workspace.vanish(koala);
        r.run(6);
        EXPECT_FALSE(r.ended());
    }
}

TEST(TandemApp, QuitAsksKoalaAndEndsWithIt) {
    {
        SCOPED_TRACE("Koala refuses: Tandem ends at once");
        AppRig r;
        ASSERT_TRUE(r.bringUpMpcTouch()) << r.app->status();
        r.rig.koala.options.refusesQuit = true;
        ASSERT_TRUE(r.desktop.trigger("Quit Tandem"));
        EXPECT_EQ(r.app->status(), "Closing Koala…");
        r.run(0.01);
        EXPECT_TRUE(r.ended());
        EXPECT_TRUE(r.rig.koala.running());
    }
}

TEST(TandemApp, APushLaunchFailureWaitsForTheMusician) {
    AppRig r;
    // Koala has run before and is set up for the Push.
    (void)FileSystem::local().createDirectories(Paths::koalaSettings());
    (void)FileSystem::local().writeFile(Paths::koalaSettings() / "defaults.json", "{}");
    ASSERT_TRUE(KoalaPushProfile::prepare(KoalaPushProfile::Mode::push2, r.rig.workspace));
    r.rig.push.plug();
    r.launch();
    r.rig.workspace.failNextOpen(Error{"NSCocoaErrorDomain", 1, "Koala could not be opened"});
    r.pick(ControllerPick::push2);
    r.run(30);
    EXPECT_FALSE(r.app->koala());
    EXPECT_FALSE(r.app->hasRetryPending());
    const std::string failed = r.app->status();
    EXPECT_FALSE(failed.empty());
    ASSERT_TRUE(r.desktop.trigger("Open Koala Again"));
    ASSERT_TRUE(r.runUntil([&] { return r.app->koala().has_value(); }, 60)) << r.app->status();
    EXPECT_TRUE(hasStatus(r, "Koala is running with Push 2"));
}

Screen screen(uint32_t number, Rect frame, std::string name, std::optional<std::string> uuid = std::nullopt) {
    Screen made;
    made.frame = frame;
    made.visibleFrame = frame;
    made.name = std::move(name);
    made.number = number;
    made.uuid = std::move(uuid);
    return made;
}

TEST(TandemApp, TheMpcScreenIsInkwellsElseByNameOrSizeButNeverTheFirst) {
    AppRig r;
    auto& screens = r.rig.screens;
    const uint32_t main = *screens.screens().front().number;
    // Only the main screen, even when it looks like the MPC's.
    ASSERT_TRUE(screens.remove(main));
    screens.add(screen(1, {0, 0, 1280, 800}, "MPC Touch"));
    EXPECT_FALSE(r.app->mpcScreen());
    screens.add(screen(2, {1280, 0, 1920, 1080}, "DELL U2415", "AAAA"));
    screens.add(screen(3, {-1280, 0, 1280.6, 800.2}, "DisplayLink"));
    ASSERT_TRUE(r.app->mpcScreen());
    EXPECT_EQ(r.app->mpcScreen()->number, 3u); // 1280.6 × 800.2 counts as 1280 × 800
    // Inkwell's choice wins; one that names no screen falls through to the rules.
    r.defaults.setString(TandemApp::inkwellBundleID, "launchDisplayUUID", "AAAA");
    EXPECT_EQ(r.app->mpcScreen()->number, 2u);
    r.defaults.setString(TandemApp::inkwellBundleID, "launchDisplayUUID", "NOT-A-SCREEN");
    EXPECT_EQ(r.app->mpcScreen()->number, 3u);
}

} // namespace
} // namespace tandem
