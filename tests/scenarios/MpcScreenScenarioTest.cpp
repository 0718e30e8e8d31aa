// Koala on the MPC's screen, end to end on the simulated Mac in virtual time: the touch driver is
// installed and started, the MIDI bridge sets the MPC up, Koala runs for the first time, is mapped,
// relaunched and placed full screen on the MPC display, and the overlay keeps Koala's bank in step
// with the MPC's.
#include "base/ActivityLog.h"
#include "mpc_controller_setup/controller_setup.h"
#include "platform/sim/SimRig.h"
#include "support/KoalaFiles.h"
#include "tandem/integration/KoalaIntegration.h"
#include "tandem/integration/TandemOverlay.h"
#include "tandem/integration/TouchService.h"
#include "tandem/mpc/KoalaMIDIBridge.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace tandem {
namespace {

using testing::KoalaFiles;

TEST(MpcScreenScenario, FromNothingToKoalaOnTheMpcWithTheOverlayFollowingTheBanks) {
    KoalaFiles files; // Koala has never run: no settings at all
    SimRig rig(files.home.path() / "rig");
    rig.placeMpcScreen(SimRig::MpcScreen::leftOfMain);
    rig.mpc.plug();
    ASSERT_EQ(rig.touchDriver.agent(), SimTouchDriver::Agent::missing);

    std::FILE* quiet = std::tmpfile();
    controller_use(&rig.midi, &rig.time, quiet, quiet);
    KoalaPerformanceFeed feed(rig.time);
    auto bridge = KoalaMIDIBridge::create(rig.midi, rig.time, rig.makeQueue("Tandem.MIDIInput"),
                                          rig.makeQueue("Tandem.ControllerOutput"), rig.main, feed);
    std::vector<std::string> status;
    auto show = [&](const std::string& text) { status.push_back(text); };

    // The touch driver first.
    std::optional<TouchService::Result> touch;
    TouchService::Services services{rig.processes, rig.workspace,  rig.time, rig.makeQueue("touch service"),
                                    rig.main,      rig.resources()};
    TouchService::prepare(services, rig.mpcScreen()->number, true,
                          [&](TouchService::Result result) { touch = result; });
    rig.time.advance(10);
    ASSERT_TRUE(touch);
    EXPECT_EQ(*touch, (TouchService::Result{true, "MPC touch ready", true}));

    // The MPC's controls, then Koala.
    bool ready = false;
    ASSERT_TRUE(bridge->start([&] { ready = true; }).ok());
    rig.time.advance(3);
    ASSERT_TRUE(ready);
    bridge->prepareForKoalaLaunch();
    bridge->setRoutingEnabled(false);
    auto integration = KoalaIntegration::create({rig.workspace, rig.screens, rig.windows, rig.accessibility,
                                                 rig.main, std::make_shared<KoalaLaunchMemory>()});
    integration->onStatus = show;
    std::optional<Result<RunningApplication>> opened;
    integration->open(*rig.mpcScreen(), false, true, KoalaPushProfile::Mode::mpcTouch,
                      [&](Result<RunningApplication> result) { opened = result; });
    for (int i = 0; i < 1200 && !opened; ++i)
        rig.time.advance(0.05);
    ASSERT_TRUE(opened && opened->ok()) << (opened ? opened->error().description : "no result");
    EXPECT_EQ(rig.koala.launches(), 2); // once to create its settings, once mapped
    EXPECT_EQ(status.front(), "Opening Koala once to create its settings before automatic controller setup…");
    EXPECT_EQ(status.back(), "Koala fills the MPC display at 1280 × 800.");
    EXPECT_TRUE(KoalaPushProfile::settingsMatch(KoalaPushProfile::Mode::mpcTouch));

    // Routing on, the overlay over Koala, wired both ways to the bridge.
    bridge->prepareForKoalaLaunch();
    bridge->setRoutingEnabled(true);
    rig.workspace.activate((*opened)->processIdentifier, activateAllWindows | activateIgnoringOtherApps);
    auto overlay = TandemOverlay::create({rig.workspace, rig.screens, rig.windows, rig.accessibility,
                                          rig.pointer, rig.panels, rig.main, feed});
    std::weak_ptr<TandemOverlay> weakOverlay = overlay;
    std::weak_ptr<KoalaMIDIBridge> weakBridge = bridge;
    overlay->onBankSelected = [weakBridge](int bank) {
        if (auto b = weakBridge.lock()) b->selectPadBank(bank);
    };
    bridge->onPadBankChanged = [weakOverlay](int bank) {
        if (auto o = weakOverlay.lock()) o->selectBank(bank);
    };
    overlay->start(**opened, *rig.mpcScreen(), bridge->currentPadBank(), bridge->currentChopperMode());
    rig.time.advance(0.1);
    SimPanel* banks = rig.panels.panelWith("A");
    ASSERT_TRUE(banks && banks->isVisible());

    // The bank buttons on the MPC: Koala shows that bank and the panel marks it.
    rig.mpc.press(37);
    rig.mpc.release(37);
    rig.time.advance(0.5);
    EXPECT_EQ(rig.koala.shownBank(), 2);
    EXPECT_TRUE(banks->button(2)->on);
    EXPECT_FALSE(banks->button(0)->on);

    // A finger on the overlay's own D: the MPC's bank follows, and Koala with it.
    banks->tap(3);
    rig.time.advance(0.5);
    EXPECT_EQ(bridge->currentPadBank(), 3);
    EXPECT_EQ(rig.koala.shownBank(), 3);

    // Touches through the driver reach Koala and tell the overlay its page.
    ASSERT_TRUE(rig.touchDriver.touch(rig.mpcPoint(0.6, 0.05)));
    rig.time.advance(0.3);
    EXPECT_EQ(overlay->page(), TandemOverlay::Page::perform);
    EXPECT_EQ(rig.koala.page(), "perform");
    EXPECT_TRUE(rig.panels.panelWith("MIXER")->isVisible());

    overlay->stop();
    bridge->stop();
    controller_use(nullptr, nullptr);
    std::fclose(quiet);
}

} // namespace
} // namespace tandem
