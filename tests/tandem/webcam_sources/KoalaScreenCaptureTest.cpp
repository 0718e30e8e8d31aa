// Koala's window through the screen-capture port: which window and region are captured, at what
// size, following the window, and every way a start can fail, on the simulated Mac.
#include "tandem/webcam/sources/KoalaScreenCapture.h"

#include "platform/sim/SimRig.h"
#include "support/KoalaRig.h"

#include <gtest/gtest.h>

namespace tandem {
namespace {

Screen screen(uint32_t number, Rect frame) {
    return {frame, frame, "screen " + std::to_string(number), number, {}};
}

WindowInfo window(int32_t pid, Rect bounds, int layer = 0, uint32_t number = 0) {
    return {pid, layer, bounds, number};
}

TEST(KoalaScreenCaptureTarget, LargestNormalWideWindowOnTheDisplayHoldingItsCentreClipped) {
    // Main 1440 × 900; a second screen to its right, lower edges aligned (global y up).
    const std::vector<Screen> screens{screen(1, {0, 0, 1440, 900}), screen(2, {1440, 0, 1280, 800})};
    const int32_t koala = 42;
    {
        SCOPED_TRACE("the largest of Koala's windows, the earlier on equal areas");
        auto found = KoalaScreenCapture::findTarget(
            {window(koala, {100, 100, 400, 300}, 0, 1), window(koala, {50, 50, 600, 400}, 0, 2),
             window(koala, {60, 60, 400, 600}, 0, 3), window(7, {0, 0, 1440, 900}, 0, 4)},
            screens, koala);
        ASSERT_TRUE(found);
        EXPECT_EQ(found->target.window, 2u);
        EXPECT_EQ(found->target.process, koala);
        EXPECT_EQ(found->region, (Rect{50, 50, 600, 400}));
    }
    {
        SCOPED_TRACE("200 points wide or narrower, or not at layer 0, is never captured");
        EXPECT_FALSE(KoalaScreenCapture::findTarget({window(koala, {0, 0, 200, 800})}, screens, koala));
        EXPECT_FALSE(KoalaScreenCapture::findTarget({window(koala, {0, 0, 900, 800}, 3)}, screens, koala));
        auto found = KoalaScreenCapture::findTarget({window(koala, {0, 0, 200, 800}, 0, 1),
                                                     window(koala, {0, 0, 900, 800}, 25, 2),
                                                     window(koala, {10, 10, 201, 100}, 0, 3)},
                                                    screens, koala);
        ASSERT_TRUE(found);
        EXPECT_EQ(found->target.window, 3u);
        WindowInfo unknownLayer = window(koala, {0, 0, 900, 800});
        unknownLayer.layer.reset();
        EXPECT_FALSE(KoalaScreenCapture::findTarget({unknownLayer}, screens, koala));
    }
    {
        SCOPED_TRACE("the display holding the centre; the region relative to it and clipped to it");
        // Straddles both screens with its centre on the second (display x from 1440).
        auto found = KoalaScreenCapture::findTarget({window(koala, {1300, 600, 600, 400})}, screens, koala);
        ASSERT_TRUE(found);
        EXPECT_EQ(found->target.display, 2u);
        // The second screen in display coordinates: x 1440, y 100 (its top is 100 below the main's).
        EXPECT_EQ(found->target.displayBounds, (Rect{1440, 100, 1280, 800}));
        EXPECT_EQ(found->region, (Rect{0, 500, 460, 300}));
    }
    {
        SCOPED_TRACE("a centre on no display: the first display");
        auto found = KoalaScreenCapture::findTarget({window(koala, {-900, 10, 1000, 300})}, screens, koala);
        ASSERT_TRUE(found);
        EXPECT_EQ(found->target.display, 1u);
        EXPECT_EQ(found->region, (Rect{0, 10, 100, 300}));
    }
    {
        SCOPED_TRACE("nothing left after clipping, no display, no window: no target");
        EXPECT_FALSE(KoalaScreenCapture::findTarget({window(koala, {-2000, 10, 1000, 300})}, screens, koala));
        EXPECT_FALSE(KoalaScreenCapture::findTarget({window(koala, {0, 0, 900, 800})}, {}, koala));
        EXPECT_FALSE(KoalaScreenCapture::findTarget({}, screens, koala));
    }
}

TEST(KoalaScreenCaptureConfiguration, EvenSizesAtMostDoubleAnd1920WithVideoElseATinyStream) {
    struct Case {
        Rect region;
        int width, height;
    };
    for (const Case& c : {Case{{0, 0, 1280, 800}, 1920, 1200}, Case{{0, 0, 600, 400}, 1200, 800},
                          Case{{0, 0, 1100, 720}, 1920, 1256}, Case{{5, 5, 801, 1201}, 1280, 1920},
                          Case{{0, 0, 333, 201}, 666, 402}}) {
        SCOPED_TRACE(std::to_string(c.region.width) + " × " + std::to_string(c.region.height));
        const auto configuration = KoalaScreenCapture::configuration(c.region, true, false);
        EXPECT_EQ(configuration.width, c.width);
        EXPECT_EQ(configuration.height, c.height);
        EXPECT_EQ(configuration.sourceRect, c.region);
        EXPECT_DOUBLE_EQ(configuration.minimumFrameInterval, 1.0 / 30);
        EXPECT_FALSE(configuration.capturesAudio);
    }
    const auto audioOnly = KoalaScreenCapture::configuration({0, 0, 1280, 800}, false, true);
    EXPECT_EQ(audioOnly.width, 64);
    EXPECT_EQ(audioOnly.height, 64);
    EXPECT_TRUE(audioOnly.capturesAudio);
}

// The rig with Koala running, and a capture made as the studio makes one.
struct Bench : testing::KoalaRig {
    std::shared_ptr<Queue> queue = rig.makeQueue("Tandem screen capture");
    std::shared_ptr<KoalaScreenCapture> capture =
        std::make_shared<KoalaScreenCapture>(KoalaScreenCapture::Services{
            rig.workspace, rig.windows, rig.screens, rig.screenCapture, rig.main, queue});
    std::vector<std::optional<std::string>> answers;
    std::vector<std::string> stops;

    void start(bool video, bool audio) {
        capture->onStop = [this](const std::string& message) {
            EXPECT_TRUE(rig.main->isCurrent());
            stops.push_back(message);
        };
        capture->start(video, audio, [this](std::optional<std::string> message) {
            EXPECT_TRUE(rig.main->isCurrent());
            answers.push_back(message);
        });
    }
};

TEST(KoalaScreenCapture, CapturesKoalasWindowAsDrawnAndFollowsItToAnotherDisplayWithinTwoSeconds) {
    Bench bench;
    bench.launchKoala();
    bench.start(true, false);
    EXPECT_TRUE(bench.answers.empty()); // the answer comes later, on the main queue
    bench.rig.time.advance(0.5);
    ASSERT_EQ(bench.answers, (std::vector<std::optional<std::string>>{std::nullopt}));
    auto frame = bench.capture->latest();
    ASSERT_TRUE(frame);
    // Koala's 1100 × 720 window fills the picture, at the largest even size within 1920 and 2×.
    EXPECT_EQ(frame->width, 1920);
    EXPECT_EQ(frame->height, 1256);
    const auto bounds = *bench.rig.koala.windowBounds();
    // Its "sample" tab is lit, the "perform" one is not.
    const uint32_t lit = 0xFFF2C14E;
    EXPECT_EQ(frame->argb(int(0.32 * frame->width), int(0.06 * frame->height)), lit);
    EXPECT_NE(frame->argb(int(0.60 * frame->width), int(0.06 * frame->height)), lit);

    // The picture follows Koala's state: its Perform page shown.
    bench.mouse(PointerEventType::leftMouseUp,
                {bounds.x + 0.60 * bounds.width, bounds.y + 0.06 * bounds.height});
    bench.rig.time.advance(0.1);
    frame = bench.capture->latest();
    EXPECT_EQ(frame->argb(int(0.60 * frame->width), int(0.06 * frame->height)), lit);

    // Koala moves to a second display: the capture follows within 2 s, on that display.
    bench.rig.placeMpcScreen(SimRig::MpcScreen::leftOfMain);
    const Rect mpc = bench.rig.mpcDisplayRect();
    bench.rig.windows.setBounds(bench.capture->current()->target.window, {mpc.x + 40, mpc.y + 50, 1000, 600});
    bench.rig.time.advance(2.0);
    const auto now = bench.capture->current();
    ASSERT_TRUE(now);
    EXPECT_EQ(now->target.display, *SimScreens::mpcTouchScreen({}).number);
    EXPECT_EQ(now->region, (Rect{40, 50, 1000, 600}));
    auto streams = bench.rig.screenCapture.streams();
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].updates, 1);
    EXPECT_EQ(streams[0].target.display, now->target.display);
    EXPECT_EQ(streams[0].configuration, KoalaScreenCapture::configuration({40, 50, 1000, 600}, true, false));
    bench.rig.time.advance(0.1);
    EXPECT_EQ(bench.capture->latest()->width, 1920);
    EXPECT_EQ(bench.capture->latest()->height, 1152);

    // Nothing changes: no further update.
    bench.rig.time.advance(4.0);
    EXPECT_EQ(bench.rig.screenCapture.streams()[0].updates, 1);

    bench.capture->stop();
    EXPECT_FALSE(bench.capture->latest());
    EXPECT_FALSE(bench.rig.screenCapture.streams()[0].running);
    bench.capture->stop(); // twice is harmless
}

TEST(KoalaScreenCapture, StopBeforeTheStreamStartedStopsItAsItStarts) {
    Bench bench;
    bench.launchKoala();
    bench.start(true, false);
    bench.capture->stop();
    bench.rig.time.advance(1.0);
    auto streams = bench.rig.screenCapture.streams();
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_FALSE(streams[0].running);
    EXPECT_TRUE(streams[0].stopped);
    EXPECT_FALSE(bench.capture->latest());
    EXPECT_TRUE(bench.answers.empty());
    // No follow timer was left behind.
    bench.rig.time.advance(5.0);
    EXPECT_EQ(bench.rig.screenCapture.streams()[0].updates, 0);
}

TEST(KoalaScreenCapture, FailuresGiveTheirTextsOnTheMainQueue) {
    const std::string permission =
        "Allow Tandem in System Settings › Privacy & Security › Screen & System Audio "
        "Recording, then reopen Webcam.";
    const std::string openKoala = "Open Koala first: Webcam captures its sound and screen.";
    {
        SCOPED_TRACE("no shareable content");
        Bench bench;
        bench.launchKoala();
        bench.rig.screenCapture.permitted = false;
        bench.start(true, false);
        bench.rig.time.runUntilIdle();
        EXPECT_EQ(bench.answers, (std::vector<std::optional<std::string>>{permission}));
        EXPECT_TRUE(bench.rig.screenCapture.streams().empty());
    }
    {
        SCOPED_TRACE("Koala not running");
        Bench bench;
        bench.start(false, true);
        bench.rig.time.runUntilIdle();
        EXPECT_EQ(bench.answers, (std::vector<std::optional<std::string>>{openKoala}));
    }
    {
        SCOPED_TRACE("Koala running without a window wide enough");
        Bench bench;
        bench.rig.koala.options.windowSize = {200, 700};
        bench.launchKoala();
        bench.start(true, false);
        bench.rig.time.runUntilIdle();
        EXPECT_EQ(bench.answers, (std::vector<std::optional<std::string>>{openKoala}));
    }
    {
        SCOPED_TRACE("the stream refuses to start");
        Bench bench;
        bench.launchKoala();
        bench.rig.screenCapture.startFailure = Error{"SCStreamErrorDomain", -3801, "The user declined TCCs"};
        bench.start(true, false);
        bench.rig.time.advance(0.5);
        EXPECT_EQ(bench.answers, (std::vector<std::optional<std::string>>{permission}));
        EXPECT_FALSE(bench.capture->current());
    }
    {
        SCOPED_TRACE("the stream stops by itself; not after stop()");
        Bench bench;
        bench.launchKoala();
        bench.start(true, false);
        bench.rig.time.advance(0.5);
        bench.rig.screenCapture.failRunning({"SCStreamErrorDomain", -3815, "The display was disconnected."});
        bench.rig.time.runUntilIdle();
        EXPECT_EQ(bench.stops,
                  (std::vector<std::string>{"Koala's capture stopped: The display was disconnected."}));
        bench.capture->stop();
        bench.rig.screenCapture.failRunning({"SCStreamErrorDomain", -3815, "again"});
        bench.rig.time.runUntilIdle();
        EXPECT_EQ(bench.stops.size(), 1u);
    }
}

TEST(KoalaScreenCapture, SoundOnlyWhenAskedForAndFramesOnlyWithVideo) {
    Bench bench;
    bench.launchKoala();

    std::vector<SampleBuffer> heard;
    bench.capture->onAudio = [&](const SampleBuffer& buffer) {
        EXPECT_TRUE(bench.queue->isCurrent());
        heard.push_back(buffer);
    };
    bench.start(false, true);
    bench.rig.time.advance(0.5);
    ASSERT_EQ(bench.answers, (std::vector<std::optional<std::string>>{std::nullopt}));
    bench.note(0, 127);
    bench.rig.time.advance(0.3);
    ASSERT_FALSE(bench.rig.koala.played().empty());
    float peak = 0;
    for (const SampleBuffer& buffer : heard)
        for (float v : buffer.floats)
            peak = std::max(peak, std::abs(v));
    EXPECT_GT(peak, 0.3f);
    EXPECT_FALSE(bench.capture->latest()); // no video asked for: frames are not kept
    EXPECT_EQ(bench.rig.screenCapture.streams()[0].configuration.width, 64);
    bench.capture->stop();
}

} // namespace
} // namespace tandem
