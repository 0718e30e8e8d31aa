#include "tandem/integration/TouchService.h"

#include "base/ActivityLog.h"
#include "platform/sim/SimRig.h"
#include "support/ScratchHome.h"

#include <gtest/gtest.h>

namespace tandem {
namespace TouchService {
void PrintTo(const Result& result, std::ostream* out) {
    *out << "{" << (result.ready ? "ready" : "not ready") << ", \"" << result.message << "\", "
         << (result.recoveryAttempted ? "recovery" : "no recovery") << "}";
}
} // namespace TouchService
namespace {

using testing::ScratchHome;
using Agent = SimTouchDriver::Agent;
namespace fs = std::filesystem;

struct Bench {
    ScratchHome home;
    SimRig rig{home.path() / "rig"};
    std::shared_ptr<Queue> worker = rig.makeQueue("touch service");
    TouchService::Services services{rig.processes, rig.workspace, rig.time,
                                    worker,        rig.main,      rig.resources()};

    Bench() { rig.placeMpcScreen(SimRig::MpcScreen::leftOfMain); }
    uint32_t mpcNumber() { return *rig.mpcScreen()->number; }
};

TEST(TouchService, TheLogSaysWhetherTheScreenIsMappedAfterTheLastStart) {
    ScratchHome home;
    const fs::path log = home.path() / "glassbridge.log";
    const std::string banner = "glassbridge v3 started\n";
    std::string big(300 * 1024, 'x');
    for (size_t i = 99; i < big.size(); i += 100)
        big[i] = '\n';
    struct Case {
        const char* name;
        std::string text;
        std::optional<uint32_t> display;
        std::optional<bool> mapped;
    };
    const Case cases[] = {
        {"mapped to the display", banner + "screen (MPC): display 12, 1280x800\n", 12, true},
        {"the last report decides", banner + "screen (MPC): display 12,\nscreen (MPC): not present\n", 12,
         false},
        {"another display", banner + "screen (MPC): display 123, 1280x800\n", 12, false},
        {"any display when none is expected", banner + "screen (MPC): display 7, 1280x800\n", std::nullopt,
         true},
        {"a report before the last start is old",
         banner + "screen (MPC): display 12,\n" + banner + "waiting for screens\n", 12, std::nullopt},
        {"only the last 256 KB: an early report is out of reach", "screen (MPC): display 12,\n" + big, 12,
         std::nullopt},
        {"without a banner in reach every line read counts", big + "screen (MPC): display 12,\n", 12, true},
        {"broken bytes are repaired, not fatal", banner + "\xFF\xFE screen (MPC): \xC3 display 12, ok\n", 12,
         true},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        ScratchHome::write(log, test.text);
        EXPECT_EQ(TouchService::screenMapped(log, test.display), test.mapped);
    }
    EXPECT_EQ(TouchService::screenMapped(home.path() / "missing.log", 12), std::nullopt);
}

TEST(TouchService, LaunchctlOutputIsTrimmedAndAHangIsCutOffAtFourSeconds) {
    Bench bench;
    bench.rig.touchDriver.setAgent(Agent::running);
    auto printed = TouchService::runLaunchctl(bench.services, {"print", "gui/501/com.quillon.glassbridge"});
    EXPECT_EQ(printed.status, 0);
    EXPECT_EQ(printed.output.rfind("gui/501/com.quillon.glassbridge = {", 0), 0u);
    EXPECT_EQ(printed.output.back(), '}'); // the final newline trimmed

    bench.rig.touchDriver.setLaunchctlHangs(true);
    const double before = bench.rig.time.now();
    auto hung = TouchService::runLaunchctl(bench.services, {"print", "gui/501/com.quillon.glassbridge"});
    EXPECT_EQ(hung, (TouchService::Command{-1, "Touch service command timed out"}));
    EXPECT_NEAR(bench.rig.time.now() - before, 4.0, 0.03);
    EXPECT_EQ(bench.rig.processes.terminations(), 1);
    EXPECT_EQ(bench.rig.processes.running(), 0);

    bench.rig.processes.uninstall("/bin/launchctl");
    auto missing = TouchService::runLaunchctl(bench.services, {"print"});
    EXPECT_EQ(missing,
              (TouchService::Command{-1, "Could not start /bin/launchctl: No such file or directory"}));

    // No capture file is ever left behind.
    EXPECT_TRUE(FileSystem::local().list(bench.rig.processes.temporaryFolder()).empty());
    std::filesystem::remove_all(bench.rig.processes.temporaryFolder());
    auto uncaptured = TouchService::runLaunchctl(bench.services, {"print"});
    EXPECT_EQ(uncaptured, (TouchService::Command{-1, "Could not capture touch service status"}));
}

TEST(TouchService, EachAgentStateGetsItsSentenceAndRecoveryWhereAllowed) {
    struct Case {
        const char* name;
        std::function<void(Bench&)> arrange;
        bool allowRecovery;
        bool withDisplay;
        TouchService::Result expected;
    };
    auto agent = [](Agent state) { return [state](Bench& b) { b.rig.touchDriver.setAgent(state); }; };
    const std::string waiting =
        "The touch driver is running, but the MPC's screen isn't mapped yet (waiting for it)…";
    const Case cases[] = {
        {"missing, observing",
         agent(Agent::missing),
         false,
         true,
         {false, "The touch driver isn't installed yet.", false}},
        {"missing, the installer fails",
         [](Bench& b) { b.rig.touchDriver.setInstaller(1, "no space left"); },
         true,
         true,
         {false, "The touch driver couldn't be installed: no space left", true}},
        {"missing, and Tandem's copy is gone",
         [](Bench& b) { std::filesystem::remove_all(b.rig.resources() / "GlassbridgeDriver"); },
         true,
         true,
         {false,
          "The touch driver couldn't be installed: Tandem's copy of the driver is missing; reinstall Tandem.",
          true}},
        {"installed, not loaded, observing",
         agent(Agent::installed),
         false,
         true,
         {false, "Touch service is not loaded.", false}},
        {"loaded but stopped, observing",
         agent(Agent::loaded),
         false,
         true,
         {false, "Touch service needs a restart.", false}},
        {"loaded but stopped, kickstarted",
         agent(Agent::loaded),
         true,
         true,
         {true, "MPC touch ready", true}},
        {"running and mapped", agent(Agent::running), false, true, {true, "MPC touch ready", false}},
        {"running, never mapping the screen, restarted once",
         [](Bench& b) {
             b.rig.touchDriver.setAgent(Agent::running);
             b.rig.touchDriver.setMapsScreen(false);
         },
         true,
         true,
         {false, waiting, true}},
        {"running, the MPC's screen not there",
         [](Bench& b) {
             b.rig.touchDriver.setAgent(Agent::running);
             b.rig.placeMpcScreen(SimRig::MpcScreen::none);
             b.rig.time.runUntilIdle(); // the driver notes the screen going
         },
         false,
         false,
         {false,
          "The MPC Touch's screen isn't there yet (DisplayLink). Tandem carries on when macOS sees it.",
          false}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        Bench bench;
        test.arrange(bench);
        std::optional<uint32_t> display;
        if (test.withDisplay) display = bench.mpcNumber();
        EXPECT_EQ(TouchService::prepareOnWorker(bench.services, display, test.allowRecovery), test.expected);
    }
}

TEST(TouchService, AnInstallerNeedingPermissionOpensItsPaneAndAHungOneIsStopped) {
    Bench bench;
    bench.rig.touchDriver.setInstaller(10, "allow glassbridge");
    std::optional<TouchService::Result> result;
    TouchService::prepare(bench.services, bench.mpcNumber(), true,
                          [&](TouchService::Result done) { result = done; });
    bench.rig.time.advance(5);
    ASSERT_TRUE(result);
    EXPECT_EQ(*result,
              (TouchService::Result{false,
                                    "Touch driver installed. Allow glassbridge in Privacy & Security › "
                                    "Accessibility; Tandem carries on by itself.",
                                    true}));
    EXPECT_EQ(bench.rig.workspace.openedURLs(),
              std::vector<std::string>{
                  "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility"});
    // The next attempt, recovery spent, only reports the agent's state.
    EXPECT_EQ(TouchService::prepareOnWorker(bench.services, bench.mpcNumber(), false).message,
              "Touch service is not loaded.");

    Bench hung;
    hung.rig.touchDriver.setInstallerHangs(true);
    result.reset();
    TouchService::prepare(hung.services, hung.mpcNumber(), true,
                          [&](TouchService::Result done) { result = done; });
    hung.rig.time.advance(119);
    EXPECT_FALSE(result);
    hung.rig.time.advance(2);
    ASSERT_TRUE(result);
    EXPECT_EQ(*result,
              (TouchService::Result{
                  false, "The touch driver couldn't be installed: Touch driver install timed out", true}));
    EXPECT_EQ(hung.rig.processes.running(), 0);
    ActivityLog::flush();
    EXPECT_NE(ScratchHome::read(hung.home.path() / "Library/Logs/Tandem.log")
                  .find("touch driver install · timed out"),
              std::string::npos);
}

} // namespace
} // namespace tandem
