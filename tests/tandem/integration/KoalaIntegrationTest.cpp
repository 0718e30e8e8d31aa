#include "tandem/integration/KoalaIntegration.h"

#include "base/ActivityLog.h"
#include "platform/sim/SimRig.h"
#include "support/KoalaFiles.h"
#include "tandem/profiles/KoalaMIDIProfile.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tandem {
namespace {

using testing::KoalaFiles;
using testing::ScratchHome;
using Mode = KoalaPushProfile::Mode;
using Error_ = KoalaIntegrationError;

// A scratch home with the simulated Mac, and one integration opening Koala on it.
struct Bench {
    KoalaFiles files;
    SimRig rig{files.home.path() / "rig"};
    std::shared_ptr<KoalaLaunchMemory> memory = std::make_shared<KoalaLaunchMemory>();
    std::shared_ptr<KoalaIntegration> integration;
    std::vector<std::string> statuses;
    std::optional<Result<RunningApplication>> result;
    int completions = 0;
    double openedAt = 0, completedAt = 0;

    explicit Bench(SimRig::MpcScreen where = SimRig::MpcScreen::leftOfMain) {
        rig.placeMpcScreen(where);
        integration = make();
    }

    std::shared_ptr<KoalaIntegration> make() {
        auto made =
            KoalaIntegration::create({rig.workspace, rig.screens, rig.windows, rig.accessibility, rig.main,
                                      memory, files.home.path() / "Applications/koala.app"});
        made->onStatus = [this](const std::string& text) { statuses.push_back(text); };
        return made;
    }

    // Koala ran once before: its settings exist.
    void koalaHasRun() { files.writeSettings(R"({"audioOutput": "Speakers"})"); }

    // Koala already running with the MPC's settings in place and its windows open.
    void koalaRunningPrepared() {
        koalaHasRun();
        ASSERT_TRUE(KoalaMIDIProfile::prepare(rig.workspace).ok());
        ASSERT_TRUE(KoalaPushProfile::prepare(Mode::mpcTouch, rig.workspace).ok());
        rig.workspace.openApplication(rig.koala.location(), [](auto, auto) {});
        rig.time.advance(2);
        ASSERT_TRUE(rig.koala.windowBounds());
    }

    void open(Mode mode = Mode::mpcTouch) {
        Screen screen =
            mode == Mode::mpcTouch && rig.mpcScreen() ? *rig.mpcScreen() : rig.screens.screens().front();
        openedAt = rig.time.now();
        integration->open(screen, mode == Mode::push2, mode == Mode::mpcTouch, mode,
                          [this](Result<RunningApplication> done) {
                              result = std::move(done);
                              ++completions;
                              completedAt = rig.time.now();
                          });
    }

    void runUntilDone(double limit = 60) {
        for (double waited = 0; !completions && waited < limit; waited += 0.05)
            rig.time.advance(0.05);
    }

    bool has(const std::string& status) const {
        return std::find(statuses.begin(), statuses.end(), status) != statuses.end();
    }
    bool failedWith(Error_ which) const { return result && !result->ok() && isError(result->error(), which); }
    std::string failure() const { return result && !result->ok() ? result->error().description : ""; }
};

bool near(const Rect& a, const Rect& b) {
    return std::abs(a.x - b.x) <= 2 && std::abs(a.y - b.y) <= 2 && std::abs(a.width - b.width) <= 2 &&
           std::abs(a.height - b.height) <= 2;
}

TEST(KoalaIntegration, LaunchesAndFillsTheMpcDisplayLeftOfOrAboveTheMainScreen) {
    for (auto where : {SimRig::MpcScreen::leftOfMain, SimRig::MpcScreen::aboveMain}) {
        Bench bench(where);
        bench.koalaHasRun();
        bench.open();
        bench.runUntilDone();
        ASSERT_EQ(bench.completions, 1);
        ASSERT_TRUE(bench.result->ok()) << bench.failure();
        ASSERT_TRUE(bench.rig.koala.windowBounds());
        EXPECT_TRUE(near(*bench.rig.koala.windowBounds(), bench.rig.mpcDisplayRect()));
        EXPECT_TRUE(bench.rig.koala.fullScreen());
        EXPECT_EQ(bench.statuses.back(), "Koala fills the MPC display at 1280 × 800.");
        EXPECT_EQ(bench.rig.koala.launches(), 1);

        // Asked again while it runs with the right settings: found in place, nothing moves.
        bench.statuses.clear();
        bench.completions = 0;
        bench.open();
        bench.runUntilDone();
        ASSERT_TRUE(bench.result->ok());
        EXPECT_EQ(bench.statuses.front(),
                  "Koala is already running. Checking Accessibility access and moving its window…");
        EXPECT_EQ(bench.rig.koala.launches(), 1);
    }
}

TEST(KoalaIntegration, PlacementGivesUpAfterExactlyTwelveAttemptsAndAReleasedOneFallsSilent) {
    Bench bench;
    bench.koalaRunningPrepared();
    bench.rig.koala.options.refusesMove = true;
    bench.open();
    bench.runUntilDone();
    EXPECT_TRUE(bench.failedWith(Error_::windowPlacementFailed));
    EXPECT_EQ(bench.rig.koala.positionRequests().size(), 12u);
    EXPECT_EQ(bench.failure(),
              "Koala opened, but macOS could not place it on the MPC display. Choose Koala again.");

    // Released mid-way: no completion and no further Accessibility calls.
    Bench released;
    released.koalaRunningPrepared();
    released.open();
    released.rig.time.advance(0.5);
    ASSERT_EQ(released.completions, 0);
    released.integration.reset();
    const int calls = released.rig.accessibility.calls();
    released.rig.time.advance(30);
    EXPECT_EQ(released.completions, 0);
    EXPECT_EQ(released.rig.accessibility.calls(), calls);
}

TEST(KoalaIntegration, MpcDisplayUnpluggedDuringPlacement) {
    Bench bench;
    bench.koalaRunningPrepared();
    bench.rig.koala.options.refusesMove = true;
    bench.open();
    bench.rig.time.advance(0.4);
    bench.rig.placeMpcScreen(SimRig::MpcScreen::none);
    bench.runUntilDone();
    ASSERT_EQ(bench.completions, 1);
    EXPECT_TRUE(bench.failedWith(Error_::displayDisconnected));
    EXPECT_EQ(bench.failure(), "MPC Touch display disconnected. Reconnect it, then choose Koala again.");
}

TEST(KoalaIntegration, OpeningWaitsForQuitAndFirstRunWithinItsLimits) {
    {
        SCOPED_TRACE("running with other settings, stuck in a save dialog: code 2 after 5 s");
        Bench bench;
        bench.koalaHasRun();
        bench.rig.koala.options.saveDialogSeconds = 30;
        bench.rig.workspace.openApplication(bench.rig.koala.location(), [](auto, auto) {});
        bench.rig.time.advance(2);
        bench.open();
        bench.runUntilDone();
        ASSERT_TRUE(bench.result && !bench.result->ok());
        EXPECT_EQ(bench.result->error(), profileError(2));
        EXPECT_NEAR(bench.completedAt - bench.openedAt, 5.0, 0.06);
        EXPECT_TRUE(bench.has("Saving and reopening Koala for the selected controller's MIDI channels…"));
    }
    {
        SCOPED_TRACE("still no settings on a later choice: code 3, Koala not opened again");
        Bench bench;
        bench.rig.koala.options.writesSettingsOnFirstRun = false;
        bench.rig.koala.options.refusesQuit = true;
        bench.open();
        bench.runUntilDone();
        bench.rig.workspace.forceQuit(KoalaIntegration::bundleIdentifier);
        const int opened = bench.rig.workspace.openCount(KoalaIntegration::bundleIdentifier);
        bench.integration = bench.make(); // a new attempt shares the run's memory
        bench.completions = 0;
        bench.open();
        bench.runUntilDone();
        EXPECT_EQ(bench.result->error(), profileError(3));
        EXPECT_EQ(bench.rig.workspace.openCount(KoalaIntegration::bundleIdentifier), opened);
    }
}

TEST(KoalaIntegration, AProfileFailureEndsPushButTheMpcOnlyWhenItsSettingsDoNotMatch) {
    {
        SCOPED_TRACE("Push: a learned mapping on the Push's own channel");
        Bench bench;
        // The MPC's own mapping went in long ago; its receipt says so.
        ScratchHome::write(KoalaMIDIProfile::receiptPath(), "{}");
        bench.files.writeSettings(
            "{}", R"({"mappings":[{"address":"/mine","key":{"channel":1,"type":"cc","value":3}}]})");
        bench.open(Mode::push2);
        bench.runUntilDone();
        ASSERT_TRUE(bench.result && !bench.result->ok());
        EXPECT_EQ(bench.result->error().domain, "Tandem.KoalaPushProfile");
        EXPECT_EQ(bench.rig.koala.launches(), 0);
    }
    // The MPC with an unreadable map in Koala's settings folder (a folder where the file should be).
    for (bool songMapMatches : {false, true}) {
        SCOPED_TRACE(songMapMatches ? "MPC: settings already suit it" : "MPC: settings do not suit it");
        Bench bench;
        bench.koalaRunningPrepared();
        bench.rig.workspace.forceQuit(KoalaIntegration::bundleIdentifier);
        auto canonical = ScratchHome::read(bench.files.settings / "midiMapping.json");
        std::filesystem::remove(bench.files.settings / "midiMapping.json");
        std::filesystem::create_directories(bench.files.settings / "midiMapping.json");
        if (songMapMatches) ScratchHome::write(bench.files.song / "midiMapping.json", canonical);
        bench.open();
        bench.runUntilDone();
        ASSERT_TRUE(bench.result);
        EXPECT_EQ(bench.result->ok(), songMapMatches) << bench.failure();
        EXPECT_EQ(bench.rig.koala.launches(), songMapMatches ? 2 : 1);
    }
    {
        SCOPED_TRACE("MPC: the MPC mapping itself cannot install");
        Bench bench;
        bench.files.writeSettings("{}", R"({"mappings":[{"key":{"channel":5,"type":"note","value":3}}]})");
        bench.open();
        bench.runUntilDone();
        EXPECT_EQ(bench.statuses.back(), "An unknown Koala mapping needs review; no settings changed.");
    }
}

TEST(KoalaIntegration, LocationTrustAndThePushPathsOwnWay) {
    {
        SCOPED_TRACE("nowhere at all");
        Bench bench;
        bench.rig.workspace.install(bench.rig.koala, false);
        bench.open();
        EXPECT_TRUE(bench.failedWith(Error_::applicationNotInstalled));
        EXPECT_EQ(bench.statuses, std::vector<std::string>{
                                      "Koala was not found. Install Koala 2.0.11 or later and try again."});
    }
    {
        SCOPED_TRACE("the launch itself fails");
        Bench bench;
        bench.koalaHasRun();
        bench.rig.workspace.failNextOpen(std::nullopt);
        bench.open();
        bench.runUntilDone();
        EXPECT_TRUE(bench.failedWith(Error_::launchFailed));
        EXPECT_EQ(bench.statuses.back(), "Couldn’t launch Koala: Koala could not be launched.");
    }
    {
        SCOPED_TRACE("Push: opened on the Mac, never moved, Accessibility optional");
        Bench bench;
        bench.koalaHasRun();
        bench.rig.accessibility.setTrusted(false);
        bench.open(Mode::push2);
        bench.runUntilDone();
        ASSERT_TRUE(bench.result->ok()) << bench.failure();
        EXPECT_EQ(bench.statuses.back(), "Koala is open on the Mac display.");
        EXPECT_TRUE(bench.rig.koala.positionRequests().empty());
        EXPECT_TRUE(KoalaPushProfile::settingsMatch(Mode::push2));
    }
}

} // namespace
} // namespace tandem
