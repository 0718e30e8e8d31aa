// Learning where Koala's STUTTER control sits and noticing it held: presses and releases come through
// the simulated pointer's monitor on the main queue, in virtual time.
#include "tandem/webcam/KoalaStutterTouch.h"

#include "base/SimTime.h"
#include "platform/sim/SimPointer.h"
#include "platform/sim/SimWindowServer.h"
#include "platform/sim/SimWorkspace.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace tandem {
namespace {

struct TouchRig {
    SimTime time;
    std::shared_ptr<Queue> main = time.makeQueue("main");
    SimWorkspace workspace{main};
    SimWindowServer windows;
    SimPointer pointer;
    KoalaPerformanceFeed feed{time};
    std::shared_ptr<KoalaStutterTouch> touch = std::make_shared<KoalaStutterTouch>(
        KoalaStutterTouch::Services{workspace, windows, pointer, feed, main});
    std::vector<Point> learned;
    int32_t koala = workspace.launch(KoalaStutterTouch::koalaBundleIdentifier, "Koala");
    // Koala's main window: 600 × 400 points at (100, 50), y down.
    uint32_t window = windows.add(koala, {100, 50, 600, 400});

    TouchRig() {
        touch->onLearned = [this](Point point) { learned.push_back(point); };
        touch->start();
        time.runUntilIdle();
    }

    void press(Point at) {
        pointer.press(at);
        time.runUntilIdle();
    }
    void release(Point at) {
        pointer.release(at);
        time.runUntilIdle();
    }
    void learnAt(Point at) {
        touch->learning = true;
        press(at);
        release(at);
    }
    bool stuttering() { return feed.snapshot().touchStutter; }
};

TEST(KoalaStutterTouch, LearnsTheSpotAsFractionsFromTheWindowsTopLeft) {
    TouchRig rig;
    rig.learnAt({250, 350}); // 150 across, 300 down
    ASSERT_TRUE(rig.touch->spot);
    EXPECT_EQ(*rig.touch->spot, (Point{0.25, 0.75}));
    EXPECT_FALSE(rig.stuttering()) << "the learning press holds nothing";

    // Outside Koala nothing is learned and learning goes on.
    rig.touch->learning = true;
    rig.press({50, 20});
    EXPECT_TRUE(rig.touch->learning);
    EXPECT_EQ(rig.learned.size(), 1u);
}

TEST(KoalaStutterTouch, HoldsWithinTheRadiusOnThePerformPageUntilRelease) {
    TouchRig rig;
    rig.learnAt({400, 250}); // the window's centre
    // Radius max(600 × 0.035, 28) = 28 points: 27 counts, beyond 28 does not.
    rig.press({400 + 27, 250});
    EXPECT_TRUE(rig.touch->holding());
    EXPECT_TRUE(rig.stuttering());
    rig.release({400 + 27, 250});
    EXPECT_FALSE(rig.touch->holding());
    EXPECT_FALSE(rig.stuttering());

    rig.press({400 + 28.01, 250}); // the spot is kept as fractions: just past 28, not exactly on it
    EXPECT_FALSE(rig.stuttering());
    rig.release({400 + 28.01, 250});

    // Not on another page of Koala's.
    rig.feed.setPage("sequence");
    rig.press({400, 250});
    EXPECT_FALSE(rig.stuttering());
}

TEST(KoalaStutterTouch, NothingWithoutASpotOffKoalaOrOnSmallWindows) {
    TouchRig rig;
    rig.press({400, 250});
    EXPECT_FALSE(rig.stuttering()) << "nothing learned yet";
    rig.release({400, 250});
    rig.learnAt({400, 250});

    // Another application's window in front at the same place.
    const int32_t other = rig.workspace.launch("com.example.other", "Other");
    const uint32_t stranger = rig.windows.add(other, {0, 0, 2000, 2000});
    EXPECT_TRUE(rig.touch->locate({400, 250})) << "only Koala's windows are looked at";
    rig.windows.remove(stranger);

    // Koala's small windows (200 points wide or less) and other layers are never its main window; the
    // largest of the rest is.
    rig.windows.remove(rig.window);
    rig.windows.add(rig.koala, {300, 200, 200, 100});
    rig.windows.add(rig.koala, {300, 200, 800, 600}, 3);
    EXPECT_FALSE(rig.touch->locate({400, 250}));
    rig.windows.add(rig.koala, {0, 0, 300, 300});
    rig.windows.add(rig.koala, {200, 100, 400, 300});
    const auto located = rig.touch->locate({400, 250});
    ASSERT_TRUE(located);
    EXPECT_EQ(located->window, (Rect{200, 100, 400, 300}));
    EXPECT_EQ(located->point, (Point{0.5, 0.5}));

    // Koala gone: no window of it counts.
    rig.workspace.exit(rig.koala);
    rig.time.runUntilIdle();
    EXPECT_FALSE(rig.touch->locate({400, 250}));
}

TEST(KoalaStutterTouch, StopLetsGoOfAHeldStutterAndEndsTheWatch) {
    TouchRig rig;
    rig.learnAt({400, 250});
    rig.press({400, 250});
    ASSERT_TRUE(rig.stuttering());
    rig.touch->stop();
    EXPECT_FALSE(rig.stuttering());
    EXPECT_FALSE(rig.touch->holding());
    EXPECT_FALSE(rig.touch->started());
    rig.touch->stop(); // twice is fine

    rig.press({400, 250});
    EXPECT_FALSE(rig.stuttering()) << "no watch after stop";
    rig.release({400, 250});
    rig.touch->start();
    rig.touch->start(); // one watch only
    rig.press({400, 250});
    EXPECT_TRUE(rig.stuttering());
}

} // namespace
} // namespace tandem
