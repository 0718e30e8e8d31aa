#include "tandem/integration/TandemOverlay.h"

#include "base/ActivityLog.h"
#include "platform/sim/SimRig.h"
#include "support/KoalaFiles.h"

#include <gtest/gtest.h>

namespace tandem {
namespace {

using testing::KoalaFiles;
using testing::ScratchHome;
using Page = TandemOverlay::Page;
using Press = TandemOverlay::Press;

// Koala full screen on the MPC display, frontmost, with the overlay started over it.
struct Bench {
    KoalaFiles files;
    SimRig rig{files.home.path() / "rig"};
    KoalaPerformanceFeed feed{rig.time};
    std::shared_ptr<TandemOverlay> overlay;
    RunningApplication koala;
    int keyboardToggles = 0;
    std::vector<int> tappedBanks;

    Bench() {
        rig.placeMpcScreen(SimRig::MpcScreen::leftOfMain);
        files.writeSettings("{}");
        rig.workspace.openApplication(rig.koala.location(),
                                      [this](auto application, auto) { koala = *application; });
        rig.time.advance(2);
        rig.koala.setAttribute(SimKoala::mainWindow, "AXPosition", rig.mpcDisplayRect().origin());
        rig.koala.setAttribute(SimKoala::mainWindow, "AXFullScreen", true);
        rig.time.advance(1);
        rig.workspace.activate(koala.processIdentifier, 3);
        overlay = TandemOverlay::create({rig.workspace, rig.screens, rig.windows, rig.accessibility,
                                         rig.pointer, rig.panels, rig.main, feed});
        overlay->onKeyboardToggled = [this] { ++keyboardToggles; };
        overlay->onBankSelected = [this](int bank) { tappedBanks.push_back(bank); };
        overlay->start(koala, *rig.mpcScreen(), 0, false);
        rig.time.advance(0.01);
    }

    SimPanel* bankPanel() { return rig.panels.panelWith("A"); }
    SimPanel* mixerPanel() { return rig.panels.panelWith("MIXER"); }
    SimPanel* togglePanel() {
        SimPanel* panel = rig.panels.panelWith("HIDE");
        return panel ? panel : rig.panels.panelWith("SHOW");
    }
    std::vector<bool> shown() {
        return {bankPanel()->isVisible(), mixerPanel()->isVisible(), togglePanel()->isVisible()};
    }
    // The musician's finger on Koala's screen, by fractions of the MPC display from its top-left.
    void touch(double fx, double fy) {
        Point at = rig.mpcPoint(fx, fy);
        rig.pointer.press(at);
        rig.pointer.release(at);
        rig.time.advance(0.01);
    }
    std::vector<std::string> hits() {
        std::vector<std::string> names;
        for (const auto& click : rig.koala.clicks())
            if (!click.hit.empty()) names.push_back(click.hit);
        return names;
    }
    std::string log() {
        ActivityLog::flush();
        return ScratchHome::read(files.home.path() / "Library/Logs/Tandem.log");
    }
};

TEST(TandemOverlay, PanelsStandOverKoalaAndFollowItsPages) {
    Bench bench;
    ASSERT_TRUE(bench.bankPanel() && bench.mixerPanel() && bench.togglePanel());
    EXPECT_EQ(bench.bankPanel()->plan(), TandemOverlay::bankContent(0));
    EXPECT_TRUE(bench.bankPanel()->button(0)->on);
    EXPECT_EQ(bench.bankPanel()->origin(), (Point{-1272, 736}));
    EXPECT_EQ(bench.shown(), (std::vector<bool>{true, false, true}));
    EXPECT_EQ(bench.feed.snapshot().page, "sample");

    bench.touch(0.45, 0.05); // the sequence tab
    EXPECT_EQ(bench.overlay->page(), Page::sequence);
    EXPECT_EQ(bench.feed.snapshot().page, "sequence");
    bench.rig.time.advance(0.2);
    EXPECT_EQ(bench.shown(), (std::vector<bool>{false, false, false}));
    bench.touch(0.6, 0.05); // perform
    bench.rig.time.advance(0.2);
    EXPECT_EQ(bench.shown(), (std::vector<bool>{true, true, true}));

    // Another of Koala's screens: everything away, presses dropped, until a page tab is touched.
    bench.touch(0.7, 0.05);
    EXPECT_TRUE(bench.overlay->controlsSuspended());
    EXPECT_EQ(bench.shown(), (std::vector<bool>{false, false, false}));
    bench.overlay->mixerPressed();
    bench.rig.time.advance(0.5);
    EXPECT_TRUE(bench.hits().empty() || bench.hits().back() == "tab settings");
    bench.touch(0.3, 0.05);
    bench.rig.time.advance(0.3);
    EXPECT_FALSE(bench.overlay->controlsSuspended());
    EXPECT_EQ(bench.rig.koala.shownBank(), 0); // back on the pads, Koala shows the MPC's bank again
    EXPECT_EQ(bench.hits().back(), "bank A");

    // Hiding keeps the toggle, titled SHOW.
    bench.togglePanel()->tap(0);
    bench.rig.time.advance(0.01);
    EXPECT_TRUE(bench.overlay->overlayHidden());
    EXPECT_EQ(bench.shown(), (std::vector<bool>{false, false, true}));
    EXPECT_EQ(bench.togglePanel()->button(0)->title, "SHOW");

    // The display goes: panels away; it comes back elsewhere: panels move.
    bench.overlay->screenChanged(std::nullopt);
    EXPECT_FALSE(bench.togglePanel()->isVisible());
    bench.overlay->screenChanged(Screen{{0, 900, 1280, 800}, {0, 900, 1280, 800}, "MPC Touch", 7, {}});
    EXPECT_EQ(bench.togglePanel()->origin(), (Point{176, 1566}));
}

TEST(TandemOverlay, TabEdgesAndTheTabRowBoundary) {
    struct Case {
        double fx, fy;
        Page page;
        bool suspended;
    };
    const Case cases[] = {
        {0.2549, 0.05, Page::perform, false}, {0.255, 0.05, Page::sample, false},
        {0.383, 0.05, Page::sequence, false}, {0.675, 0.05, Page::perform, true},
        {0.3, 0.1301, Page::perform, false},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(::testing::Message() << test.fx << ", " << test.fy);
        Bench bench;
        bench.touch(0.6, 0.05); // start from perform
        bench.touch(test.fx, test.fy);
        EXPECT_EQ(bench.overlay->page(), test.page);
        EXPECT_EQ(bench.overlay->controlsSuspended(), test.suspended);
    }
}

TEST(TandemOverlay, BankClicksFollowTheMpcOnlyWhenTheyMayAndOnlyTheLatestCounts) {
    {
        SCOPED_TRACE("quick changes while a click is on its way: the last one wins");
        Bench bench;
        bench.overlay->selectBank(1);
        bench.overlay->selectBank(2);
        bench.overlay->selectBank(3);
        bench.rig.time.advance(1);
        EXPECT_EQ(bench.hits(), (std::vector<std::string>{"bank B", "bank D"}));
        EXPECT_EQ(bench.rig.koala.shownBank(), 3);
        EXPECT_NE(bench.log().find(" Koala native press forwarded at -590,869\n"), std::string::npos);
    }
    {
        SCOPED_TRACE("a finger on the screen: 0.6 s of waiting, then dropped");
        Bench bench;
        bench.rig.pointer.setLeftButtonDown(true);
        bench.overlay->selectBank(2);
        bench.rig.time.advance(0.55);
        EXPECT_EQ(bench.overlay->pendingPresses().size(), 1u);
        bench.rig.time.advance(0.1);
        EXPECT_TRUE(bench.overlay->pendingPresses().empty());
        bench.rig.pointer.setLeftButtonDown(false);
        bench.rig.time.advance(1);
        EXPECT_TRUE(bench.rig.koala.clicks().empty());
    }
    {
        SCOPED_TRACE(
            "chopper mode: no bank clicks; leaving it clicks the bank once; 'leaving' twice does not");
        Bench bench;
        bench.overlay->setChopperMode(true);
        bench.overlay->selectBank(2);
        bench.rig.time.advance(1);
        EXPECT_TRUE(bench.hits().empty());
        bench.overlay->setChopperMode(false);
        bench.rig.time.advance(0.14);
        EXPECT_TRUE(bench.hits().empty());
        bench.rig.time.advance(0.5);
        EXPECT_EQ(bench.hits(), std::vector<std::string>{"bank C"});
        bench.overlay->setChopperMode(false);
        bench.rig.time.advance(1);
        EXPECT_EQ(bench.hits().size(), 1u);
    }
}

TEST(TandemOverlay, ForwardedClicksAreMarkedPutThePointerBackAndAlwaysRelease) {
    {
        SCOPED_TRACE("the pointer goes back only when nothing moved it");
        Bench bench;
        bench.rig.pointer.moveTo({300, 300});
        bench.touch(0.6, 0.05); // perform page, for the mixer
        bench.rig.pointer.moveTo({300, 300});
        bench.rig.pointer.clearPosted();
        bench.rig.time.advance(0.2);
        bench.mixerPanel()->tap(0);
        bench.rig.time.advance(0.5);
        auto posted = bench.rig.pointer.postedEvents();
        ASSERT_EQ(posted.size(), 4u);
        const Point mixer = TandemOverlay::target(bench.rig.mpcDisplayRect(), Press::mixer());
        EXPECT_EQ(posted[0],
                  (PointerEvent{PointerEventType::mouseMoved, mixer, 0, 1, TandemOverlay::eventMarker}));
        EXPECT_EQ(posted[3],
                  (PointerEvent{PointerEventType::mouseMoved, {300, 300}, 0, 1, TandemOverlay::eventMarker}));
        EXPECT_TRUE(bench.rig.koala.mixerOpen());
        EXPECT_EQ(bench.overlay->page(), Page::perform); // Tandem's own click is not a touch

        bench.rig.pointer.clearPosted();
        bench.mixerPanel()->tap(0);
        bench.rig.time.advance(0.1); // pressed and released; the musician moves before it settles
        bench.rig.pointer.moveTo({10, 10});
        bench.rig.time.advance(0.5);
        EXPECT_EQ(bench.rig.pointer.postedEvents().size(), 3u);
    }
    {
        SCOPED_TRACE("stopped mid-click: the release still goes out, nothing else");
        Bench bench;
        bench.rig.pointer.clearPosted();
        bench.overlay->selectBank(1);
        bench.rig.time.advance(0.05);
        ASSERT_EQ(bench.rig.pointer.postedEvents().size(), 2u);
        EXPECT_TRUE(bench.rig.pointer.leftButtonDown());
        bench.overlay->stop();
        bench.rig.time.advance(1);
        auto posted = bench.rig.pointer.postedEvents();
        ASSERT_EQ(posted.size(), 3u);
        EXPECT_EQ(posted[2].type, PointerEventType::leftMouseUp);
        EXPECT_FALSE(bench.rig.pointer.leftButtonDown());
        EXPECT_FALSE(bench.feed.snapshot().page);
    }
    {
        SCOPED_TRACE("a restart mid-click: the old click's steps leave the new start alone");
        Bench bench;
        bench.overlay->selectBank(1);
        bench.rig.time.advance(0.01);
        bench.overlay->start(bench.koala, *bench.rig.mpcScreen(), 1, false);
        bench.overlay->selectBank(2);
        ASSERT_TRUE(bench.overlay->forwarding());
        bench.rig.time.advance(0.04); // the old click's first step is due now
        EXPECT_TRUE(bench.overlay->forwarding());
        bench.rig.time.advance(1);
        EXPECT_EQ(bench.hits(), std::vector<std::string>{"bank C"});
        EXPECT_FALSE(bench.rig.pointer.leftButtonDown());
    }
}

TEST(TandemOverlay, KoalasKeyboardButtonIsAPressAndAReleaseOnTheSequencePage) {
    Bench bench;
    bench.touch(0.45, 0.05);
    bench.rig.time.advance(0.2);
    Point key = bench.rig.mpcPoint(0.3, 0.49);
    bench.rig.pointer.press(key);
    bench.rig.time.advance(0.05);
    EXPECT_EQ(bench.keyboardToggles, 0);
    bench.rig.pointer.release(key);
    bench.rig.time.advance(0.01);
    EXPECT_EQ(bench.keyboardToggles, 1);
    // A release alone, or a press below the button, toggles nothing.
    bench.rig.pointer.release(key);
    bench.rig.pointer.press(bench.rig.mpcPoint(0.3, 0.6));
    bench.rig.pointer.release(key);
    bench.rig.time.advance(0.01);
    EXPECT_EQ(bench.keyboardToggles, 1);
    // A marked event, Tandem's own, is never the musician's.
    bench.rig.pointer.post({PointerEventType::leftMouseDown, key, 0, 1, TandemOverlay::eventMarker});
    bench.rig.pointer.post({PointerEventType::leftMouseUp, key, 0, 1, TandemOverlay::eventMarker});
    bench.rig.time.advance(0.01);
    EXPECT_EQ(bench.keyboardToggles, 1);
}

TEST(TandemOverlay, OfflineCheckPassesAndPostsNothing) {
    SimPointer pointer;
    EXPECT_TRUE(TandemOverlay::offlineSelfCheck(pointer));
    EXPECT_TRUE(pointer.postedEvents().empty());
    pointer.setCanMakeEvents(false);
    EXPECT_FALSE(TandemOverlay::offlineSelfCheck(pointer));
}

} // namespace
} // namespace tandem
