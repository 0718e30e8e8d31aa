// The picture effects on frames whose colour says when they were taken: frame k is one flat colour with
// red k, shown at k/128 s. The effect state, and the scaling and pixel loops underneath.
#include "tandem/webcam/WebcamFX.h"

#include "tandem/webcam/FrameRenderer.h"
#include "tandem/webcam/WebcamEffectState.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace tandem {
namespace {

constexpr double tick = 1.0 / 128;
const QSize size(64, 36);

QRgb colourOf(int k) {
    return qRgb(k, 255 - k, 100);
}

QImage frameAt(int k) {
    QImage frame(size, QImage::Format_RGB32);
    frame.fill(colourOf(k));
    return frame;
}

// The frame a flat output shows, or -1 when the output is not one flat colour of some frame.
int shown(const QImage& out) {
    if (out.size() != size) return -1;
    const QRgb first = out.pixel(0, 0);
    for (QPoint p : {QPoint(63, 0), QPoint(0, 35), QPoint(63, 35), QPoint(31, 17), QPoint(32, 18)})
        if (out.pixel(p) != first) return -1;
    const int k = qRed(first);
    return first == colourOf(k) ? k : -1;
}

bool black(const QImage& out) {
    for (QPoint p : {QPoint(0, 0), QPoint(63, 35), QPoint(31, 17)})
        if (out.pixel(p) != qRgb(0, 0, 0)) return false;
    return true;
}

struct Frames {
    WebcamFX fx;
    QImage at(int k, const WebcamEffectState& state) { return fx.process(frameAt(k), k * tick, state, size); }
};

WebcamEffectState stutter(double period, double start) {
    return {period, start, 0, 0};
}

TEST(WebcamFX, TheLoopShowsTheFrameAtItsStartPlusThePhaseDissolvingIntoEachRepetition) {
    Frames run;
    for (int k = 0; k < 40; ++k)
        ASSERT_EQ(shown(run.at(k, {})), k) << "no effect: the live frame";

    // A sixteenth at 120 bpm: 16 frames per repetition, a fade of a quarter of it (4 frames).
    const WebcamEffectState on = stutter(0.125, 40 * tick);
    for (int k = 40; k < 40 + 4 * 16; ++k) {
        const QImage out = run.at(k, on);
        const int phase = (k - 40) % 16, repetition = (k - 40) / 16;
        if (repetition == 0 || phase >= 4) {
            EXPECT_EQ(shown(out), 40 + phase) << "frame " << k;
            continue;
        }
        // From the last picture of the repetition before (frame 55) to this one, at phase / fade.
        const double t = phase / 4.0;
        const QRgb pixel = out.pixel(20, 10);
        EXPECT_NEAR(qRed(pixel), 55 * (1 - t) + (40 + phase) * t, 1.0) << "frame " << k;
        EXPECT_EQ(out.pixel(0, 0), pixel) << "the whole picture dissolves";
    }
    EXPECT_EQ(run.fx.loopFrom(), 40 * tick);
    EXPECT_EQ(run.fx.history().front().time, 38 * tick) << "the loop reaches 0.02 s before its start";
}

TEST(WebcamFX, APeriodAboveOneSecondLoopsOverOneSecondOfMaterial) {
    Frames run;
    for (int k = 0; k < 10; ++k)
        (void)run.at(k, {});
    const WebcamEffectState slow = stutter(3.0, 10 * tick);
    for (int k = 10; k < 10 + 128 + 32; ++k)
        (void)run.at(k, slow);
    EXPECT_EQ(shown(run.at(10 + 128 + 32, slow)), 10 + 32)
        << "1.25 s in, a 1 s loop is 0.25 s into its second pass";
    EXPECT_EQ(shown(run.at(10 + 128 + 100, slow)), 10 + 100);
}

TEST(WebcamFX, TheCutterIsBlackOnTheSecondHalfOfEachPeriodOnly) {
    Frames run;
    const double start = 10 * tick, period = 0.25; // 32 frames
    const WebcamEffectState cutter{0, 0, period, start};
    auto at = [&](double now) { return run.fx.process(frameAt(7), now, cutter, size); };
    EXPECT_EQ(shown(at(start + period / 2 - 1e-9)), 7);
    EXPECT_TRUE(black(at(start + period / 2)));
    EXPECT_EQ(shown(at(start + period)), 7);
}

TEST(WebcamFX, StutterOffClearsTheLoopAndANewStartRebuildsItFromRecentFrames) {
    Frames run;
    for (int k = 0; k < 40; ++k)
        (void)run.at(k, {});
    for (int k = 40; k < 60; ++k)
        (void)run.at(k, stutter(0.125, 40 * tick));
    ASSERT_TRUE(run.fx.loopFrom());

    // A new start without an off tick in between: the loop is made again from the last 0.4 s.
    for (int k = 60; k < 72; ++k)
        (void)run.at(k, stutter(0.125, 40 * tick));
    const double restart = 69.5 * tick;
    const QImage first = run.at(72, stutter(0.125, restart));
    EXPECT_EQ(run.fx.loopFrom(), restart);
    EXPECT_EQ(shown(first), 72);

    // Off: the loop is gone and the live picture shows.
    EXPECT_EQ(shown(run.at(73, {})), 73);
    EXPECT_FALSE(run.fx.loopFrom());
    EXPECT_TRUE(run.fx.history().empty());
    // On again with the old start: it is a new loop, begun from what is still recent.
    (void)run.at(74, stutter(0.125, restart));
    EXPECT_EQ(run.fx.history().front().time, 67 * tick);
}

TEST(WebcamEffectStateTable, KnobElseMeasuredElseASixteenthAndTheCutterFromItsStart) {
    using Snapshot = KoalaPerformanceFeed::Snapshot;
    EXPECT_EQ(WebcamEffectState::make({}, 120, 5, 0.3), WebcamEffectState{}) << "nothing on";

    Snapshot held;
    held.manualStutter = true;
    held.stutterSince = 2.0;
    EXPECT_EQ(WebcamEffectState::make(held, 120, 5, std::nullopt), (WebcamEffectState{0.125, 2.0, 0, 0}))
        << "nothing measured: 15 / bpm";
    EXPECT_EQ(WebcamEffectState::make(held, 120, 5, 0.2).stutterPeriod, 0.2) << "Koala's own period";
    EXPECT_EQ(WebcamEffectState::make(held, 0, 5, std::nullopt).stutterPeriod, 0.125) << "no tempo: 120";
    EXPECT_EQ(WebcamEffectState::measuringSince(held), 2.0);

    Snapshot touched;
    touched.touchStutter = true;
    EXPECT_EQ(WebcamEffectState::make(touched, 120, 5, 0.2), WebcamEffectState{}) << "no start time: off";
    touched.stutterSince = 3.0;
    EXPECT_EQ(WebcamEffectState::make(touched, 120, 5, 0.2), (WebcamEffectState{0.2, 3.0, 0, 0}));
    Snapshot stale;
    stale.stutterSince = 3.0;
    EXPECT_EQ(WebcamEffectState::make(stale, 120, 5, 0.2), WebcamEffectState{})
        << "a start without a flag: off";
    EXPECT_FALSE(WebcamEffectState::measuringSince(stale));

    // The knob: 1 below 33, 2 below 65, 4 below 97, else 8 to the beat, whatever was measured.
    const std::vector<std::pair<int, double>> knob = {{32, 0.5}, {33, 0.25}, {96, 0.125}, {97, 0.0625}};
    for (auto [value, period] : knob) {
        Snapshot turned;
        turned.fx["STUTTER"] = value;
        turned.stutterSince = 1.0;
        EXPECT_EQ(WebcamEffectState::make(turned, 120, 5, 0.3), (WebcamEffectState{period, 1.0, 0, 0}))
            << "STUTTER " << value;
        EXPECT_FALSE(WebcamEffectState::measuringSince(turned)) << "no measuring under a knob";
        Snapshot cut;
        cut.fx["CUTTER"] = value;
        cut.cutterSince = 4.0;
        EXPECT_EQ(WebcamEffectState::make(cut, 120, 5, 0.3), (WebcamEffectState{0, 0, period, 4.0}))
            << "CUTTER " << value;
    }
    Snapshot unstamped;
    unstamped.fx["CUTTER"] = 70;
    EXPECT_EQ(WebcamEffectState::make(unstamped, 60, 5, std::nullopt), (WebcamEffectState{0, 0, 0.25, 5}))
        << "no cutter start: now";
}

// A picture with every channel different in every pixel.
QImage detailed(int width, int height) {
    QImage picture(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.setPixel(x, y, qRgb(x * 25 % 256, y * 40 % 256, (x * 7 + y * 31) % 256));
    return picture;
}

using Channel = int (*)(QRgb);
const Channel rgb[] = {qRed, qGreen, qBlue};

// Plain bilinear filtering of `picture` at (sx, sy) in pixel-centre coordinates, clamped to `within`.
double bilinear(const QImage& picture, double sx, double sy, const QRect& within, Channel channel) {
    sx = std::clamp(sx, double(within.left()), double(within.right()));
    sy = std::clamp(sy, double(within.top()), double(within.bottom()));
    const int x0 = int(std::floor(sx)), y0 = int(std::floor(sy));
    const int x1 = std::min(x0 + 1, within.right()), y1 = std::min(y0 + 1, within.bottom());
    const double fx = sx - x0, fy = sy - y0;
    auto at = [&](int x, int y) { return double(channel(picture.pixel(x, y))); };
    return (at(x0, y0) * (1 - fx) + at(x1, y0) * fx) * (1 - fy) +
           (at(x0, y1) * (1 - fx) + at(x1, y1) * fx) * fy;
}

TEST(FrameRenderer, HalvesByBlockMeansAndDoublesBilinearly) {
    const QImage whole = detailed(10, 6);
    FrameRenderer renderer;
    const QImage half = *renderer.half(whole);
    ASSERT_EQ(half.size(), QSize(5, 3));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            for (Channel channel : rgb) {
                const int sum = channel(whole.pixel(2 * x, 2 * y)) + channel(whole.pixel(2 * x + 1, 2 * y)) +
                                channel(whole.pixel(2 * x, 2 * y + 1)) +
                                channel(whole.pixel(2 * x + 1, 2 * y + 1));
                EXPECT_NEAR(channel(half.pixel(x, y)), sum / 4.0, 0.5);
            }

    // Each output pixel centre maps to (X + 0.5) / 2 - 0.5 in the half picture, edges clamped; one
    // column and row more than twice the half repeat the last.
    const QImage doubled = *renderer.twice(half, 11, 7);
    ASSERT_EQ(doubled.size(), QSize(11, 7));
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 11; ++x) {
            const double sx = std::min(x, 9) / 2.0 - 0.25, sy = std::min(y, 5) / 2.0 - 0.25;
            for (Channel channel : rgb)
                EXPECT_NEAR(channel(doubled.pixel(x, y)), bilinear(half, sx, sy, half.rect(), channel), 0.51)
                    << x << "," << y;
        }
}

// Any part of a picture, down or up, mirrored or not, against plain bilinear filtering of the part: each
// output pixel centre maps into the part, and samples stay within the pixels the part touches. Weights
// are 256ths and each pass rounds, so a channel may be 2 off; a pixel off would be 25 or more.
TEST(FramePixels, ScalesAnyPartBilinearlyMirroredOrNot) {
    const QImage picture = detailed(10, 6);
    struct Case {
        QRectF part;
        QSize size;
        bool mirror;
    };
    for (const Case& c : {Case{{1.5, 0.5, 7, 4.25}, {5, 3}, false}, Case{{1.5, 0.5, 7, 4.25}, {13, 9}, true},
                          Case{{3, 1, 1, 4}, {3, 5}, false}}) {
        SCOPED_TRACE(std::to_string(c.size.width()) + (c.mirror ? " mirrored" : ""));
        QImage into(c.size, QImage::Format_RGB32);
        std::vector<int> rows;
        FramePixels::scale(picture, c.part, into, c.mirror, [&](int y) { rows.push_back(y); });
        EXPECT_EQ(rows.size(), size_t(c.size.height())) << "every row told once";
        const QImage shown = c.mirror ? picture.mirrored(true, false) : picture;
        const QRect touched = c.part.toAlignedRect() & picture.rect();
        for (int y = 0; y < c.size.height(); ++y)
            for (int x = 0; x < c.size.width(); ++x) {
                const double sx = c.part.x() + (x + 0.5) * c.part.width() / c.size.width() - 0.5;
                const double sy = c.part.y() + (y + 0.5) * c.part.height() / c.size.height() - 0.5;
                for (Channel channel : rgb)
                    ASSERT_NEAR(channel(into.pixel(x, y)), bilinear(shown, sx, sy, touched, channel), 2.01)
                        << x << "," << y;
                ASSERT_EQ(qAlpha(into.pixel(x, y)), 255);
            }
    }
}

} // namespace
} // namespace tandem
