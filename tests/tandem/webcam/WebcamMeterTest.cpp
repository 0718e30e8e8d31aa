// What the meters show: the chain's readings (floors, the falling peak hold), the card's falling level,
// and the meter view's scale, colours and drawing.
#include "tandem/webcam/WebcamDBMeter.h"
#include "tandem/webcam/WebcamLevel.h"
#include "tandem/webcam/WebcamSoundChain.h"

#include "base/SimTime.h"
#include "tandem/looks/KoalaLook.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace tandem {
namespace {

using Meter = WebcamSoundChain::Meter;

SampleBuffer stereo(size_t frames, float left, float right) {
    SampleBuffer buffer = SampleBuffer::makeFloat(48000, 2, frames);
    for (size_t f = 0; f < frames; ++f) {
        buffer.floatAt(f, 0) = left;
        buffer.floatAt(f, 1) = right;
    }
    return buffer;
}

TEST(WebcamSoundChainMeter, FloorsBeforeAndInSilence) {
    WebcamSoundChain chain;
    const Meter before = chain.meter();
    EXPECT_EQ(before.rms, (std::array<double, 2>{-90, -90}));

    chain.process(stereo(480, 0, 0));
    const Meter silent = chain.meter();
    EXPECT_EQ(silent.rms, (std::array<double, 2>{-90, -90}));
    EXPECT_EQ(silent.peak, (std::array<double, 2>{-100, -100}));
}

TEST(WebcamSoundChainMeter, ThePeakHoldFallsFifteenPercentABuffer) {
    WebcamSoundChain chain;
    chain.configure(0, false, true, 0);
    for (int i = 0; i < 10; ++i)
        chain.process(stereo(480, 0.5f, 0.25f));
    EXPECT_NEAR(chain.meter().peak[0], 20 * std::log10(0.5), 1e-9);
    // The first silent buffer still carries the look-ahead's last 72 frames of sound.
    chain.process(stereo(480, 0, 0));
    EXPECT_NEAR(chain.meter().peak[0], 20 * std::log10(0.5), 1e-9);
    double held = 0.5;
    for (int i = 0; i < 20; ++i) {
        chain.process(stereo(480, 0, 0));
        held *= 0.85;
        EXPECT_NEAR(chain.meter().peak[0], 20 * std::log10(std::max(held, 1e-5)), 1e-9) << i;
    }
    // A louder buffer takes over at once.
    chain.process(stereo(480, 0.8f, 0.8f));
    chain.process(stereo(480, 0.8f, 0.8f));
    EXPECT_NEAR(chain.meter().peak[0], 20 * std::log10(0.8), 1e-6);
}

TEST(WebcamLevel, FallsThreePerSecondAndTakesPeaksThatReachIt) {
    SimTime time;
    WebcamLevel level(time);
    EXPECT_EQ(level.value(), 0.0f);

    level.add(stereo(480, 0.8f, -0.2f));
    EXPECT_FLOAT_EQ(level.value(), 0.8f);
    time.advance(0.1);
    EXPECT_NEAR(level.value(), 0.5f, 1e-6);
    level.add(stereo(480, 0.4f, 0.1f)); // below what the held peak has fallen to: ignored
    EXPECT_NEAR(level.value(), 0.5f, 1e-6);
    time.advance(0.05);
    EXPECT_NEAR(level.value(), 0.35f, 1e-6);
    level.add(stereo(480, 0.1f, -0.4f)); // reaches it: replaces it and falls from now
    EXPECT_FLOAT_EQ(level.value(), 0.4f);
    time.advance(0.1);
    EXPECT_NEAR(level.value(), 0.1f, 1e-6);
    time.advance(1.0);
    EXPECT_EQ(level.value(), 0.0f);
}

TEST(WebcamLevel, PeaksOfEveryFormat) {
    SampleBuffer planar = SampleBuffer::makeFloat(48000, 2, 4, false);
    planar.floats = {0.1f, -0.2f, std::numeric_limits<float>::quiet_NaN(), 0.0f, 0.0f, 0.0f, -0.7f, 0.3f};
    EXPECT_FLOAT_EQ(WebcamLevel::peak(planar), 0.7f) << "every channel, NaN ignored";

    SampleBuffer integers = SampleBuffer::makeInt16(48000, 2, 2);
    integers.integers = {100, 16384, -200, 0};
    EXPECT_FLOAT_EQ(WebcamLevel::peak(integers), 0.5f);

    SampleBuffer other = SampleBuffer::makeOther(4, 48000, 2, 2);
    other.bytes.assign(other.bytes.size(), std::byte{0x7f});
    EXPECT_EQ(WebcamLevel::peak(other), 0.0f);
}

// The scale's ends and the colours' edges; the drawing below shows the middles.
TEST(WebcamDBMeter, ScaleColoursAndText) {
    EXPECT_EQ(WebcamDBMeter::position(-90), 0.0);
    EXPECT_EQ(WebcamDBMeter::position(std::numeric_limits<double>::quiet_NaN()), 0.0);

    EXPECT_EQ(WebcamDBMeter::colour(-12.01), KoalaLook::blue);
    EXPECT_EQ(WebcamDBMeter::colour(-12), WebcamDBMeter::yellow);
    EXPECT_EQ(WebcamDBMeter::colour(-3), WebcamDBMeter::warning);

    EXPECT_EQ(WebcamDBMeter::valueText(-3.04), "-3.0");
    EXPECT_EQ(WebcamDBMeter::valueText(-0.96), "-1.0");
}

// Probes the drawn picture: each bar reaches as far as its level and takes its colour; the reduction
// grows from the right.
TEST(WebcamDBMeter, DrawsBarsPeakMarksAndTheReduction) {
    QImage image(260, 60, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const QRectF rect(0, 0, 260, 60);
    Meter reading;
    reading.rms = {-24, -6};
    reading.peak = {-12, -1};
    reading.reduction = -6;
    {
        QPainter painter(&image);
        WebcamDBMeter meter{reading};
        meter.draw(painter, rect);
    }
    const WebcamDBMeter::Layout rows = WebcamDBMeter::layout(rect);
    auto at = [&](size_t row, double fraction) {
        const QRectF& bar = rows.tracks[row];
        return image.pixelColor(int(bar.left() + bar.width() * fraction), int(bar.center().y()));
    };
    // Peak marks are 2 pixels wide from their level's position.
    auto mark = [&](size_t row, double dB) {
        const QRectF& bar = rows.tracks[row];
        return image.pixelColor(int(bar.left() + bar.width() * WebcamDBMeter::position(dB) + 1),
                                int(bar.center().y()));
    };

    EXPECT_EQ(at(0, 0.25), KoalaLook::blue);
    EXPECT_NE(at(0, 0.55), KoalaLook::blue) << "-24 dB ends half way";
    EXPECT_EQ(mark(0, -12), WebcamDBMeter::yellow) << "the peak mark at -12 dB";

    EXPECT_EQ(at(1, 0.5), WebcamDBMeter::yellow) << "-6 dB is yellow";
    EXPECT_EQ(mark(1, -1), WebcamDBMeter::warning);

    EXPECT_EQ(at(2, 0.75), KoalaLook::pink) << "6 of 12 dB of reduction, from the right";
    EXPECT_NE(at(2, 0.25), KoalaLook::pink);
}

} // namespace
} // namespace tandem
