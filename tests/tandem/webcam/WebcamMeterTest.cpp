// What the meters show: the chain's readings (floors, the falling peak hold, a limited sine's RMS),
// the card's falling level, and the meter view's scale, colours and drawing.
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
#include <numbers>

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
    EXPECT_EQ(before.peak, (std::array<double, 2>{-90, -90}));
    EXPECT_EQ(before.reduction, 0);

    chain.process(stereo(480, 0, 0));
    const Meter silent = chain.meter();
    EXPECT_EQ(silent.rms, (std::array<double, 2>{-90, -90}));
    EXPECT_EQ(silent.peak, (std::array<double, 2>{-100, -100}));
    EXPECT_EQ(silent.reduction, 0);
}

TEST(WebcamSoundChainMeter, ThePeakHoldFallsFifteenPercentABuffer) {
    WebcamSoundChain chain;
    chain.configure(0, false, true, 0);
    for (int i = 0; i < 10; ++i)
        chain.process(stereo(480, 0.5f, 0.25f));
    EXPECT_NEAR(chain.meter().peak[0], 20 * std::log10(0.5), 1e-9);
    EXPECT_NEAR(chain.meter().peak[1], 20 * std::log10(0.25), 1e-9);
    // The first silent buffer still carries the look-ahead's last 72 frames of sound.
    chain.process(stereo(480, 0, 0));
    EXPECT_NEAR(chain.meter().peak[0], 20 * std::log10(0.5), 1e-9);
    double held = 0.5;
    for (int i = 0; i < 20; ++i) {
        chain.process(stereo(480, 0, 0));
        held *= 0.85;
        EXPECT_NEAR(chain.meter().peak[0], 20 * std::log10(std::max(held, 1e-5)), 1e-9) << i;
        EXPECT_NEAR(chain.meter().peak[1], 20 * std::log10(std::max(held / 2, 1e-5)), 1e-9) << i;
    }
    // A louder buffer takes over at once.
    chain.process(stereo(480, 0.8f, 0.8f));
    chain.process(stereo(480, 0.8f, 0.8f));
    EXPECT_NEAR(chain.meter().peak[0], 20 * std::log10(0.8), 1e-6);
}

TEST(WebcamSoundChainMeter, ALimitedFullScaleSineReadsAboutMinusFourRMS) {
    WebcamSoundChain chain;
    chain.configure(0, false, true, 0);
    size_t frame = 0;
    for (int i = 0; i < 300; ++i) { // 3 s: ten of the meter's 0.3 s time constants
        SampleBuffer buffer = SampleBuffer::makeFloat(48000, 2, 480);
        for (size_t f = 0; f < 480; ++f, ++frame) {
            const float v = float(std::sin(2 * std::numbers::pi * 1000 * double(frame) / 48000));
            buffer.floatAt(f, 0) = v;
            buffer.floatAt(f, 1) = v;
        }
        chain.process(buffer);
    }
    const Meter meter = chain.meter();
    // 0.891 / √2 is -4.01 dB.
    EXPECT_NEAR(meter.rms[0], -4.0, 0.1);
    EXPECT_NEAR(meter.rms[1], -4.0, 0.1);
    EXPECT_NEAR(meter.peak[0], -1.0, 0.05);
    EXPECT_NEAR(meter.reduction, -1.0, 0.05);
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
    level.add(stereo(480, 0.0f, 0.0f));
    EXPECT_EQ(level.value(), 0.0f);
}

TEST(WebcamLevel, PeaksOfEveryFormat) {
    SampleBuffer planar = SampleBuffer::makeFloat(48000, 2, 4, false);
    planar.floats = {0.1f, -0.2f, std::numeric_limits<float>::quiet_NaN(), 0.0f, 0.0f, 0.0f, -0.7f, 0.3f};
    EXPECT_FLOAT_EQ(WebcamLevel::peak(planar), 0.7f) << "every channel, NaN ignored";

    SampleBuffer integers = SampleBuffer::makeInt16(48000, 2, 2);
    integers.integers = {100, 16384, -200, 0};
    EXPECT_FLOAT_EQ(WebcamLevel::peak(integers), 0.5f);
    integers.integers[3] = -32768;
    EXPECT_FLOAT_EQ(WebcamLevel::peak(integers), 1.0f);

    SampleBuffer other = SampleBuffer::makeOther(4, 48000, 2, 2);
    other.bytes.assign(other.bytes.size(), std::byte{0x7f});
    EXPECT_EQ(WebcamLevel::peak(other), 0.0f);
}

// The scale's ends and the colours' edges; the drawing below shows the middles.
TEST(WebcamDBMeter, ScaleColoursAndText) {
    EXPECT_EQ(WebcamDBMeter::position(-90), 0.0);
    EXPECT_EQ(WebcamDBMeter::position(3), 1.0);
    EXPECT_EQ(WebcamDBMeter::position(std::numeric_limits<double>::quiet_NaN()), 0.0);

    EXPECT_EQ(WebcamDBMeter::colour(-12.01), KoalaLook::blue);
    EXPECT_EQ(WebcamDBMeter::colour(-12), WebcamDBMeter::yellow);
    EXPECT_EQ(WebcamDBMeter::colour(-3.01), WebcamDBMeter::yellow);
    EXPECT_EQ(WebcamDBMeter::colour(-3), WebcamDBMeter::warning);

    EXPECT_EQ(WebcamDBMeter::valueText(-3.04), "-3.0");
    EXPECT_EQ(WebcamDBMeter::valueText(-90), "-90.0");
    EXPECT_EQ(WebcamDBMeter::valueText(-0.96), "-1.0");
    EXPECT_EQ(WebcamDBMeter::valueText(0), "0.0");
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
    // The plate's corners are rounded off; its body is near-black.
    EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0);
    EXPECT_EQ(image.pixelColor(3, 30), WebcamDBMeter::plate);

    EXPECT_EQ(at(0, 0.25), KoalaLook::blue);
    EXPECT_EQ(at(0, 0.45), KoalaLook::blue);
    EXPECT_NE(at(0, 0.55), KoalaLook::blue) << "-24 dB ends half way";
    EXPECT_EQ(mark(0, -12), WebcamDBMeter::yellow) << "the peak mark at -12 dB";
    EXPECT_NE(at(0, 0.85), WebcamDBMeter::yellow);

    EXPECT_EQ(at(1, 0.5), WebcamDBMeter::yellow) << "-6 dB is yellow";
    EXPECT_NE(at(1, 0.9), WebcamDBMeter::yellow);
    EXPECT_EQ(mark(1, -1), WebcamDBMeter::warning);

    EXPECT_EQ(at(2, 0.75), KoalaLook::pink) << "6 of 12 dB of reduction, from the right";
    EXPECT_NE(at(2, 0.25), KoalaLook::pink);

    // The values are written in light ink to the right of the bars.
    for (size_t row = 0; row < 3; ++row) {
        const QRect box = rows.values[row].toAlignedRect();
        EXPECT_GE(box.left(), int(rows.tracks[row].right()));
        int inked = 0;
        for (int y = box.top(); y <= box.bottom(); ++y) {
            for (int x = box.left(); x <= box.right(); ++x)
                inked += image.pixelColor(x, y).lightness() > 128;
        }
        EXPECT_GT(inked, 10) << row;
    }
}

} // namespace
} // namespace tandem
