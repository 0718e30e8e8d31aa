// What the studio composes, probed pixel by pixel in virtual time: when it composes at all, where the
// camera and Koala's window land and how they are cut, the blue frame, the camera's turn and mirror in
// tall output, black where a source is missing, and the preview that never piles frames up.
#include "StudioBench.h"

#include "tandem/looks/KoalaLook.h"

#include <gtest/gtest.h>

namespace tandem {
namespace {

using testing::near;
using testing::plainSettings;
using testing::StudioBench;

constexpr QRgb black = 0xFF000000, grey = 0xFF404040, red = 0xFFE02020, blue = 0xFF2040E0;
const QRgb frameBlue = KoalaLook::blue.rgb();

TEST(WebcamStudioGeometry, PlaceFillsOrFitsCentredAndCutToTheRectangle) {
    using Placement = WebcamStudio::Placement;
    {
        SCOPED_TRACE("fill: a 1280 × 720 picture in a square shows its middle 720 × 720");
        auto placed = WebcamStudio::place({1280, 720}, {100, 50, 360, 360}, true);
        ASSERT_TRUE(placed);
        EXPECT_EQ(*placed, (Placement{{280, 0, 720, 720}, {100, 50, 360, 360}}));
    }
    {
        SCOPED_TRACE("fit: the whole picture, centred, bars above and below");
        auto placed = WebcamStudio::place({1280, 720}, {100, 50, 360, 360}, false);
        ASSERT_TRUE(placed);
        EXPECT_EQ(*placed, (Placement{{0, 0, 1280, 720}, {100, 50 + 78.75, 360, 202.5}}));
    }
    {
        SCOPED_TRACE("a picture of the rectangle's shape fills and fits the same");
        auto fill = WebcamStudio::place({960, 540}, {0, 0, 1920, 1080}, true);
        auto fit = WebcamStudio::place({960, 540}, {0, 0, 1920, 1080}, false);
        ASSERT_TRUE(fill && fit);
        EXPECT_EQ(*fill, *fit);
        EXPECT_EQ(fill->target, QRectF(0, 0, 1920, 1080));
    }
    {
        SCOPED_TRACE("no positive size: nothing to place");
        EXPECT_FALSE(WebcamStudio::place({0, 720}, {0, 0, 100, 100}, true));
        EXPECT_FALSE(WebcamStudio::place({1280, -1}, {0, 0, 100, 100}, false));
        EXPECT_FALSE(WebcamStudio::place({1280, 720}, {0, 0, 0, 0}, true));
    }
}

TEST(WebcamStudioGeometry, LayoutRectanglesRoundOutwardsYUpAndTheFrameOnlyBelow98PercentBothWays) {
    // The wide tutorial camera: 0.705 × 1920 = 1353.6 → 1353; (0.705 + 0.27) × 1920 = 1872 → 1872;
    // 0.686 × 1080 = 740.88 → 740 from the bottom; 0.956 × 1080 = 1032.48 → 1033.
    EXPECT_EQ(WebcamStudio::pixels({0.705, 0.686, 0.27, 0.27}, 1920, 1080),
              QRect(1353, 1080 - 1033, 519, 293));
    EXPECT_EQ(WebcamStudio::pixels({0, 0, 1, 0.42}, 1080, 1920), QRect(0, 1920 - 807, 1080, 807));
    EXPECT_EQ(WebcamStudio::pixels({0, 0.42, 1, 0.58}, 1080, 1920), QRect(0, 0, 1080, 1920 - 806));
    EXPECT_TRUE(WebcamStudio::framed({0, 0, 1881, 1058}, 1920, 1080));
    EXPECT_FALSE(WebcamStudio::framed({0, 0, 1882, 100}, 1920, 1080)); // wide enough
    EXPECT_FALSE(WebcamStudio::framed({0, 0, 100, 1059}, 1920, 1080)); // tall enough
    EXPECT_FALSE(WebcamStudio::framed({0, 0, 1920, 1080}, 1920, 1080));
}

TEST(WebcamStudioComposition, ComposesOnNewCameraFramesAndEffectChangesElseAt25PerSecondWhenIdle) {
    StudioBench bench;
    bench.start(plainSettings());
    ASSERT_TRUE(bench.studio->hasCamera());
    {
        SCOPED_TRACE("a 30 fps camera: one frame per camera frame");
        const uint64_t before = bench.studio->composed();
        bench.rig.time.advance(1.0);
        const uint64_t made = bench.studio->composed() - before;
        EXPECT_GE(made, 29u);
        EXPECT_LE(made, 31u);
    }
    bench.rig.cameras.remove("0x8020000005ac8514");
    (void)bench.studio->update(false, [](WebcamSettings& settings) { settings.camera = "gone"; });
    bench.rig.time.advance(0.5);
    ASSERT_FALSE(bench.studio->hasCamera());
    {
        SCOPED_TRACE("nothing changes: a frame only once 1/30 s has passed, every fifth 8 ms tick");
        const uint64_t before = bench.studio->composed();
        bench.rig.time.advance(1.0);
        const uint64_t made = bench.studio->composed() - before;
        EXPECT_GE(made, 24u);
        EXPECT_LE(made, 26u);
    }
    {
        SCOPED_TRACE("the stutter flag or an effect's value changing composes on the next tick");
        bench.rig.time.advance(0.009); // just past a compose
        uint64_t before = bench.studio->composed();
        bench.rig.time.advance(0.008);
        ASSERT_EQ(bench.studio->composed(), before);
        bench.feed.setManualStutter(true);
        bench.rig.time.advance(0.008);
        EXPECT_EQ(bench.studio->composed(), before + 1);
        before = bench.studio->composed();
        bench.rig.time.advance(0.008);
        EXPECT_EQ(bench.studio->composed(), before); // still on: nothing new
    }
}

TEST(WebcamStudioComposition, TutorialWideFitsKoalaFillsTheFramedCameraAndBlackWhereNothingIs) {
    StudioBench bench;
    bench.launchKoala();
    WebcamSettings settings = plainSettings();
    settings.tutorial = true;
    bench.start(settings);
    bench.rig.time.advance(0.5);
    ASSERT_FALSE(bench.pictures.empty());
    const QImage& frame = bench.frame();
    ASSERT_EQ(frame.size(), QSize(1920, 1080));
    const QRect camera = WebcamStudio::pixels({0.705, 0.686, 0.27, 0.27}, 1920, 1080);
    // The camera, cut to its rectangle: grey pattern inside it, its corners included.
    EXPECT_TRUE(near(frame.pixel(camera.center()), grey)) << std::hex << frame.pixel(camera.center());
    EXPECT_TRUE(near(frame.pixel(camera.bottomRight() - QPoint(1, 1)), grey));
    // The blue frame, 5 pixels on every side.
    for (QPoint probe :
         {camera.topLeft() - QPoint(3, 3), camera.bottomRight() + QPoint(3, 3),
          QPoint(camera.left() - 4, camera.center().y()), QPoint(camera.center().x(), camera.bottom() + 5)})
        EXPECT_TRUE(near(frame.pixel(probe), frameBlue, 2)) << probe.x() << "," << probe.y();
    EXPECT_FALSE(near(frame.pixel(camera.left() - 6, camera.center().y()), frameBlue, 2));
    // Koala's window (wider than 16:9 or not) is fitted whole: its tab row is at the very top of its
    // picture, and the picture is centred.
    const auto region = *bench.rig.koala.windowBounds();
    const double scale = std::min(1920 / region.width, 1080 / region.height);
    const int shownWidth = int(region.width * scale), shownHeight = int(region.height * scale);
    const int left = (1920 - shownWidth) / 2, top = (1080 - shownHeight) / 2;
    EXPECT_TRUE(near(frame.pixel(left + 4, top + 4), 0xFF101010, 8)); // the tab row's dark strip
    EXPECT_TRUE(near(frame.pixel(left + shownWidth / 10, top + shownHeight / 2), 0xFF20242C, 12) ||
                near(frame.pixel(left + shownWidth / 10, top + shownHeight / 2), 0xFF2E1A47, 12) ||
                near(frame.pixel(left + shownWidth / 10, top + shownHeight / 2), 0xFF1D2B44, 12))
        << std::hex << frame.pixel(left + shownWidth / 10, top + shownHeight / 2);
    // Bars left and right, or above and below.
    if (left > 2) {
        EXPECT_EQ(frame.pixel(left / 2, 540), black);
    }
    if (top > 2) {
        EXPECT_EQ(frame.pixel(960, top / 2), black);
    }
}

// The last case reaches past the frame's right and top edges: only what falls inside is drawn.
TEST(WebcamStudioComposition, TheBlueFrameOnlyWhenTheCameraIsBelow98PercentBothWays) {
    struct Case {
        Rect camera;
        bool framed;
    };
    for (Case c : {Case{{0, 0.5, 0.985, 0.5}, false}, Case{{0.5, 0, 0.5, 0.99}, false},
                   Case{{0.25, 0.25, 0.5, 0.5}, true}, Case{{0.8, 0.7, 0.5, 0.5}, true}}) {
        SCOPED_TRACE(c.camera.width);
        StudioBench bench;
        WebcamSettings settings = plainSettings();
        settings.layouts = std::map<std::string, WebcamLayout>{{"wide", {c.camera, {0, 0, 1, 1}, {0, 0}}}};
        bench.start(settings);
        const QImage& frame = bench.frame();
        const QRect rect = WebcamStudio::pixels(c.camera, 1920, 1080);
        const QPoint outside = rect.left() >= 3 ? QPoint(rect.left() - 3, rect.center().y())
                                                : QPoint(rect.right() + 3, rect.center().y());
        EXPECT_EQ(near(frame.pixel(outside), frameBlue, 2), c.framed) << std::hex << frame.pixel(outside);
        if (!c.framed) {
            EXPECT_EQ(frame.pixel(outside), black);
        }
        const QRect shown = rect & frame.rect();
        EXPECT_TRUE(near(frame.pixel(shown.center()), grey));
        EXPECT_TRUE(near(frame.pixel(shown.bottomRight() - QPoint(1, 1)), grey));
        EXPECT_EQ(frame.pixel(rect.left() >= 10 ? 2 : 1917, 540), black) << "beside the camera";
    }
}

// A square camera in a square at the bottom of the tall frame, scaled by exactly 1.5: the red marker
// (centre (180, 240) of 720 × 720) and the blue one (centre (540, 540)) land where the turn and the
// mirror put them.
TEST(WebcamStudioComposition, TallOutputTurnsTheCameraByRotationThenMirrors) {
    struct Case {
        std::optional<long long> rotate;
        bool mirror;
        QPoint red, blue; // in the 1080 × 1080 square
    };
    const std::vector<Case> cases{
        {0, false, {270, 360}, {810, 810}},
        {std::nullopt, false, {720, 270}, {270, 810}}, // a quarter turn clockwise
        {1, false, {720, 270}, {270, 810}},
        {2, false, {360, 810}, {810, 270}}, // the other way
        {-1, false, {360, 810}, {810, 270}},
        {0, true, {810, 360}, {270, 810}},
        {1, true, {360, 270}, {810, 810}}, // turned first, then mirrored
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.rotate.value_or(99)) + (c.mirror ? " mirrored" : ""));
        StudioBench bench;
        bench.rig.cameras.remove("0x8020000005ac8514");
        bench.rig.cameras.add({{"square", "Square Camera", CameraKind::external}, 720, 720});
        WebcamSettings settings = plainSettings();
        settings.vertical = true;
        settings.rotate = c.rotate;
        settings.mirror = c.mirror;
        settings.layouts =
            std::map<std::string, WebcamLayout>{{"tall", {{0, 0, 1, 0.5625}, {0, 0, 1, 1}, {0, 0}}}};
        bench.start(settings);
        const QImage& frame = bench.frame();
        ASSERT_EQ(frame.size(), QSize(1080, 1920));
        const QPoint square(0, 840);
        EXPECT_TRUE(near(frame.pixel(square + c.red), red)) << std::hex << frame.pixel(square + c.red);
        EXPECT_TRUE(near(frame.pixel(square + c.blue), blue)) << std::hex << frame.pixel(square + c.blue);
        EXPECT_EQ(frame.pixel(540, 400), black); // above the camera's square: nothing
    }
}

TEST(WebcamStudioComposition, TallTutorialKoalaAboveTheCameraAndBlackForMissingSources) {
    {
        SCOPED_TRACE("Koala above, the camera below, neither framed");
        StudioBench bench;
        bench.launchKoala();
        WebcamSettings settings = plainSettings();
        settings.vertical = true;
        settings.tutorial = true;
        settings.rotate = 0;
        bench.start(settings);
        bench.rig.time.advance(0.5);
        const QImage& frame = bench.frame();
        ASSERT_EQ(frame.size(), QSize(1080, 1920));
        const QRect camera = WebcamStudio::pixels({0, 0, 1, 0.42}, 1080, 1920);
        const QRect koala = WebcamStudio::pixels({0, 0.42, 1, 0.58}, 1080, 1920);
        EXPECT_TRUE(near(frame.pixel(camera.center()), grey));
        EXPECT_TRUE(near(frame.pixel(540, camera.bottom() - 2), grey));
        EXPECT_FALSE(near(frame.pixel(540, camera.top() - 3), frameBlue, 2));
        // Koala's window is wider than tall: fitted to the width, centred in its rectangle.
        const auto region = *bench.rig.koala.windowBounds();
        const int shownHeight = int(region.height * 1080 / region.width);
        const int top = koala.top() + (koala.height() - shownHeight) / 2;
        EXPECT_TRUE(near(frame.pixel(6, top + 4), 0xFF101010, 8)) << std::hex << frame.pixel(6, top + 4);
        EXPECT_EQ(frame.pixel(540, koala.top() + 2), black);
    }
    {
        SCOPED_TRACE("no camera and no Koala: black, and the studio says why");
        StudioBench bench;
        bench.rig.cameras.remove("0x8020000005ac8514");
        WebcamSettings settings = plainSettings();
        settings.tutorial = true;
        bench.start(settings);
        const QImage& frame = bench.frame();
        for (QPoint probe : {QPoint(0, 0), QPoint(960, 540), QPoint(1600, 200), QPoint(1919, 1079)})
            EXPECT_EQ(frame.pixel(probe), black);
        EXPECT_TRUE(bench.said("No camera found."));
        EXPECT_TRUE(bench.said("Open Koala first: Webcam captures its sound and screen."));
    }
}

// The camera's frame number from the bit strip across the top of a full-frame 720p camera (scaled by 1.5).
std::optional<uint64_t> shownNumber(const QImage& frame) {
    uint64_t number = 0;
    for (int bit = 0; bit < 32; ++bit) {
        const QRgb pixel = frame.pixel((2 * bit + 1) * 1920 / 64, 20);
        if (near(pixel, 0xFFFFFFFF, 40))
            number |= uint64_t(1) << bit;
        else if (!near(pixel, black, 40))
            return std::nullopt;
    }
    return number;
}

TEST(WebcamStudioComposition, TheStutterLoopsTheCameraAndTheCardSitsAtItsPointOverIt) {
    StudioBench bench;
    WebcamSettings settings = plainSettings();
    settings.effects = true;
    settings.overlay = true;
    bench.start(settings);
    {
        SCOPED_TRACE("the card before any hit, 680 × 200 at (0.025, 0.044) from the bottom left");
        const QImage& frame = bench.frame();
        const int left = int(1920 * 0.025), top = 1080 - int(1080 * 0.044) - 200;
        EXPECT_FALSE(near(frame.pixel(left + 5, top + 100), grey, 6))
            << std::hex << frame.pixel(left + 5, top + 100);
        EXPECT_TRUE(near(frame.pixel(left - 3, top + 100), grey));
        EXPECT_TRUE(near(frame.pixel(left + 690, top + 100), grey));
        EXPECT_TRUE(near(frame.pixel(1500, 700), grey));
    }
    std::vector<uint64_t> numbers;
    bench.studio->onPicture = [&](const WebcamStudio::Picture& picture) {
        if (auto number = shownNumber(picture.frame)) numbers.push_back(*number);
    };
    bench.rig.time.advance(0.3);
    ASSERT_GE(numbers.size(), 8u);
    EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end())) << "no stutter: the camera runs on";
    numbers.clear();
    // Held STUTTER without a measured period: a sixteenth note at 120 bpm, 0.125 s, so in 0.5 s the
    // loop starts over about four times and frame numbers come round again.
    bench.feed.setManualStutter(true);
    bench.rig.time.advance(0.5);
    int backwards = 0;
    for (size_t i = 1; i < numbers.size(); ++i)
        if (numbers[i] < numbers[i - 1]) ++backwards;
    EXPECT_GE(backwards, 3);
    EXPECT_LE(backwards, 4);
    bench.feed.setManualStutter(false);
}

TEST(WebcamStudioPreview, ABusyMainQueueGetsOnlyTheNewestFrame) {
    StudioBench bench;
    bench.start(plainSettings());
    size_t delivered = 0;
    double lastTime = 0;
    bench.studio->onPicture = [&](const WebcamStudio::Picture& picture) {
        ++delivered;
        EXPECT_GT(picture.time, lastTime);
        lastTime = picture.time;
    };
    // The main queue is held for half a second while frames keep coming.
    const uint64_t before = bench.studio->composed();
    bench.rig.main->async([&] { bench.rig.time.sleep(0.5); });
    bench.rig.time.advance(0.5);
    const uint64_t composedWhileBusy = bench.studio->composed() - before;
    bench.rig.time.advance(0.01);
    EXPECT_GE(composedWhileBusy, 14u);
    EXPECT_LE(delivered, 2u); // one waiting frame, replaced, not fourteen
    EXPECT_GE(lastTime, bench.rig.time.now() - 0.05);
}

} // namespace
} // namespace tandem
