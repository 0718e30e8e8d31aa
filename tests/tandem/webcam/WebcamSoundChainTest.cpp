// The sound chain sample by sample: the limiter, the colouring, gains, layouts, formats, rates,
// buffer splits, and recovery from bad input.
#include "tandem/webcam/WebcamSoundChain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <numbers>
#include <vector>

namespace tandem {
namespace {

constexpr double rate = 48000;
constexpr size_t lookahead = 72; // 1.5 ms at 48 kHz
constexpr float ceiling = 0.891f;

using Signal = std::function<float(size_t frame, int channel)>;

struct Stereo {
    std::vector<float> left;
    std::vector<float> right;
};

Signal sine(double hz, double amplitude) {
    return [=](size_t f, int) {
        return float(amplitude * std::sin(2 * std::numbers::pi * hz * double(f) / rate));
    };
}

Signal constant(float value) {
    return [=](size_t, int) { return value; };
}

// Runs `frames` frames of `signal`, starting at frame `from`, through the chain in buffers of `block`
// interleaved stereo frames and returns the output.
Stereo run(WebcamSoundChain& chain, const Signal& signal, size_t frames, size_t block = 480, size_t from = 0,
           double bufferRate = rate) {
    Stereo out;
    for (size_t at = 0; at < frames; at += block) {
        const size_t count = std::min(block, frames - at);
        SampleBuffer buffer = SampleBuffer::makeFloat(bufferRate, 2, count);
        for (size_t f = 0; f < count; ++f) {
            buffer.floatAt(f, 0) = signal(from + at + f, 0);
            buffer.floatAt(f, 1) = signal(from + at + f, 1);
        }
        const SampleBuffer result = chain.process(buffer);
        for (size_t f = 0; f < count; ++f) {
            out.left.push_back(result.floatAt(f, 0));
            out.right.push_back(result.floatAt(f, 1));
        }
    }
    return out;
}

double rms(const std::vector<float>& samples, size_t from) {
    double sum = 0;
    for (size_t i = from; i < samples.size(); ++i)
        sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / double(samples.size() - from));
}

double gainOf(const WebcamSoundChain::Meter& meter) {
    return std::pow(10.0, meter.reduction / 20);
}

// On a steady 0.5, one sample of 2.0: the gain starts falling exactly as the look-ahead window takes it
// in (72 frames before it comes out), and the sample itself leaves at the ceiling 72 frames late.
TEST(WebcamSoundChain, LooksAheadExactly72FramesAndRecoversOver120ms) {
    WebcamSoundChain chain;
    chain.configure(0, false, true, 0);
    constexpr size_t spike = 1000;
    const Signal signal = [](size_t f, int c) { return f == spike && c == 0 ? 2.0f : 0.5f; };
    const Stereo out = run(chain, signal, 48000);
    EXPECT_EQ(chain.lookaheadFrames(), int(lookahead));

    for (size_t f = 0; f < lookahead; ++f)
        ASSERT_EQ(out.left[f], 0.0f) << "the delay line starts silent, frame " << f;
    for (size_t f = lookahead; f < spike; ++f)
        ASSERT_EQ(out.left[f], 0.5f) << f;
    EXPECT_LT(out.left[spike], 0.5f);
    EXPECT_LT(out.right[spike], 0.5f) << "both channels share one gain";

    const float loud = out.left[spike + lookahead];
    EXPECT_LE(loud, ceiling);
    EXPECT_GT(loud, 0.89f);

    // From the frame after the window lets go of the spike, the held gain rises as
    // 1 - (1 - g)·exp(-t / 120 ms); the output's gain is its mean over the 73-frame window.
    const double g = 0.891 / 2;
    auto remaining = [&](size_t frame) { return (1 - double(out.left[frame]) / 0.5) / (1 - g); };
    const double windowMean = std::exp(36.0 / (rate * 0.12)); // the window lags by 36 frames on average
    const size_t released = spike + lookahead;
    EXPECT_NEAR(remaining(released + 5760), std::exp(-1.0) * windowMean, 0.003); // 120 ms on
}

TEST(WebcamSoundChain, WithTheLimiterOffNothingIsPushedOrClamped) {
    WebcamSoundChain chain;
    chain.configure(0, false, false, -6);
    const Signal signal = sine(1000, 0.95);
    const Stereo out = run(chain, signal, 9600);
    for (size_t f = lookahead; f < out.left.size(); ++f)
        ASSERT_EQ(out.left[f], signal(f - lookahead, 0)) << f;
    EXPECT_EQ(chain.meter().reduction, 0);
}

TEST(WebcamSoundChain, ThresholdAndDriveGains) {
    auto gain = [](double driveDB, double thresholdDB) {
        WebcamSoundChain chain;
        chain.configure(driveDB, false, true, thresholdDB);
        return run(chain, constant(0.25f), 4800).left.back() / 0.25;
    };
    EXPECT_NEAR(gain(0, 3), 1.0, 4e-6) << "a threshold above 0 dB pushes nothing";
    EXPECT_NEAR(gain(6, 0), 1.9952623, 4e-6);
    // A later configure takes effect with the next buffer.
    WebcamSoundChain chain;
    chain.configure(0, false, true, 0);
    EXPECT_EQ(run(chain, constant(0.25f), 4800).left.back(), 0.25f);
    chain.configure(0, false, true, -6);
    EXPECT_NEAR(run(chain, constant(0.25f), 4800).left.back(), 0.25 * 1.9952623, 1e-6);
}

TEST(WebcamSoundChain, ColouringIsUnityAtOneKilohertzWithoutDCAndDullerAtTwenty) {
    auto response = [](double hz, bool clip) {
        WebcamSoundChain chain;
        chain.configure(0, clip, false, 0);
        const double amplitude = 0.001; // -60 dBFS
        const Stereo out = run(chain, sine(hz, amplitude), 48000);
        return 20 * std::log10(rms(out.left, 24000) / (amplitude / std::sqrt(2.0)));
    };
    EXPECT_NEAR(response(1000, true), 0, 0.1);
    EXPECT_LT(response(20000, true), response(1000, true) - 1.5);
    EXPECT_NEAR(response(20000, false), 0, 0.02) << "without the colouring nothing filters";

    WebcamSoundChain chain;
    chain.configure(0, true, false, 0);
    const Stereo out = run(chain, constant(0.2f), 48000);
    double mean = 0;
    for (size_t f = 43200; f < out.left.size(); ++f)
        mean += out.left[f];
    EXPECT_NEAR(mean / 4800, 0, 1e-5) << "the DC blocker removes a steady offset";
}

// The same sound interleaved and planar gives the same samples; channels past the second pass through.
TEST(WebcamSoundChain, LayoutsAndExtraChannels) {
    WebcamSoundChain interleaved, planar;
    for (WebcamSoundChain* chain : {&interleaved, &planar})
        chain->configure(3, true, true, -4);
    for (size_t at = 0; at < 9600; at += 480) {
        SampleBuffer a = SampleBuffer::makeFloat(rate, 3, 480, true, double(at) / rate);
        SampleBuffer b = SampleBuffer::makeFloat(rate, 3, 480, false, double(at) / rate);
        for (size_t f = 0; f < 480; ++f) {
            for (int c = 0; c < 3; ++c) {
                const float v = sine(300.0 + 200 * c, 0.9)(at + f, c);
                a.floatAt(f, c) = v;
                b.floatAt(f, c) = v;
            }
        }
        const SampleBuffer outA = interleaved.process(a);
        const SampleBuffer outB = planar.process(b);
        for (size_t f = 0; f < 480; ++f) {
            ASSERT_EQ(outA.floatAt(f, 0), outB.floatAt(f, 0));
            ASSERT_EQ(outA.floatAt(f, 1), outB.floatAt(f, 1));
            ASSERT_EQ(outA.floatAt(f, 2), a.floatAt(f, 2));
            ASSERT_EQ(outB.floatAt(f, 2), b.floatAt(f, 2));
        }
    }
    EXPECT_EQ(interleaved.meter(), planar.meter());
}

TEST(WebcamSoundChain, OtherFormatsPassUnchangedAndLeaveTheReadingsAlone) {
    WebcamSoundChain chain;
    chain.configure(0, true, true, 0);
    run(chain, sine(1000, 1.0), 4800);
    const WebcamSoundChain::Meter before = chain.meter();

    SampleBuffer integers = SampleBuffer::makeInt16(rate, 2, 480, true, 12.5);
    for (size_t i = 0; i < integers.integers.size(); ++i)
        integers.integers[i] = int16_t(i % 2 ? 32767 : -32768);
    EXPECT_EQ(chain.process(integers), integers);
    SampleBuffer noRate = SampleBuffer::makeFloat(0, 2, 480);
    noRate.floats[0] = 2.0f;
    EXPECT_EQ(chain.process(noRate), noRate);
    EXPECT_EQ(chain.meter(), before);
}

TEST(WebcamSoundChain, ANewRatePreparesAfresh) {
    WebcamSoundChain chain;
    chain.configure(0, false, true, 0);
    run(chain, sine(1000, 1.0), 4800); // limiting hard at 48 kHz

    constexpr size_t spike = 500;
    const Signal signal = [](size_t f, int) { return f == spike ? 2.0f : 0.5f; };
    const Stereo out = run(chain, signal, 4410, 441, 0, 44100);
    EXPECT_EQ(chain.preparedRate(), 44100);
    for (size_t f = 0; f < 66; ++f)
        ASSERT_EQ(out.left[f], 0.0f) << "nothing of the old rate's delay line is left, frame " << f;
    for (size_t f = 66; f < spike; ++f)
        ASSERT_EQ(out.left[f], 0.5f) << "the old gain is gone, frame " << f;
    EXPECT_LT(out.left[spike], 0.5f);
}

// Music that swells from quiet into hard limiting and back, through every stage.
Signal music() {
    return [](size_t f, int c) {
        const double t = double(f) / rate;
        const double swell = 0.3 + 2.2 * std::fabs(std::sin(t * 1.7));
        return float(swell * (0.6 * std::sin(2 * std::numbers::pi * (220 + 110 * c) * t) +
                              0.4 * std::sin(2 * std::numbers::pi * 3100 * t + c)));
    };
}

TEST(WebcamSoundChain, WhereBuffersSplitChangesNothing) {
    Stereo reference;
    for (size_t block : {size_t(1), size_t(64), size_t(480), size_t(4096)}) {
        WebcamSoundChain chain;
        chain.configure(3, true, true, -4);
        const Stereo out = run(chain, music(), 3 * 48000, block);
        EXPECT_LT(chain.meter().reduction, -1.0) << "the limiter was working";
        if (reference.left.empty()) {
            reference = out;
            continue;
        }
        EXPECT_TRUE(out.left == reference.left) << block << "-frame buffers";
    }
}

// The limiter written out plainly, scanning the whole window for its minimum on every frame.
Stereo plainLimiter(const Signal& signal, size_t frames, double push) {
    const size_t d = lookahead + 1;
    std::vector<float> delayL(d, 0), delayR(d, 0);
    std::vector<double> needed(d, 1), smoothed(d, 1);
    const double release = 1 - std::exp(-1 / (rate * 0.12));
    double held = 1, sum = double(d);
    size_t index = 0;
    Stereo out;
    for (size_t f = 0; f < frames; ++f) {
        const float l = float(push) * signal(f, 0), r = float(push) * signal(f, 1);
        delayL[index] = l;
        delayR[index] = r;
        const float m = std::max(std::fabs(l), std::fabs(r));
        needed[index] = m > ceiling ? double(ceiling) / m : 1.0;
        double target = *std::min_element(needed.begin(), needed.end());
        if (target >= held) target = held + (target - held) * release;
        held = target;
        sum += held - smoothed[index];
        smoothed[index] = held;
        const double gain = std::min(sum / double(d), 1.0);
        index = (index + 1) % d;
        out.left.push_back(std::clamp(float(gain * delayL[index]), -ceiling, ceiling));
        out.right.push_back(std::clamp(float(gain * delayR[index]), -ceiling, ceiling));
    }
    return out;
}

TEST(WebcamSoundChain, TheWindowMinimumIsTheWholeWindowsMinimum) {
    // Bursts of many sizes, so that the minimum leaves the window in every possible order.
    const Signal bursts = [](size_t f, int c) {
        const double t = double(f);
        const double level = 0.5 + 1.5 * std::fabs(std::sin(t * 0.013 + c)) * std::fabs(std::sin(t * 0.0021));
        return float(level * std::sin(t * (0.05 + 0.02 * c)));
    };
    WebcamSoundChain chain;
    chain.configure(0, false, true, -2);
    const Stereo out = run(chain, bursts, 96000, 96000);
    const Stereo plain = plainLimiter(bursts, 96000, std::pow(10.0, 2.0 / 20));
    EXPECT_TRUE(out.left == plain.left);
}

// The release recursion would stall short of 1 with single-precision gains.
TEST(WebcamSoundChain, TenMinutesOfSilenceBringTheGainBackToOne) {
    WebcamSoundChain chain;
    chain.configure(0, false, true, 0);
    run(chain, sine(1000, 1.0), 48000);
    ASSERT_NEAR(chain.meter().reduction, -1.0, 0.05);
    const SampleBuffer silence = SampleBuffer::makeFloat(rate, 2, 480);
    for (int i = 0; i < 10 * 60 * 100; ++i)
        chain.process(silence);
    EXPECT_NEAR(gainOf(chain.meter()), 1.0, 1e-9);
}

// Non-finite samples count as silence: what follows is exactly what follows silence.
TEST(WebcamSoundChain, ANaNBufferIsFollowedByCleanSound) {
    for (float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                      -std::numeric_limits<float>::infinity()}) {
        WebcamSoundChain poisoned, clean;
        for (WebcamSoundChain* chain : {&poisoned, &clean})
            chain->configure(6, true, true, -3);
        run(poisoned, music(), 4800);
        run(clean, music(), 4800);
        SampleBuffer broken = SampleBuffer::makeFloat(rate, 2, 480);
        std::fill(broken.floats.begin(), broken.floats.end(), bad);
        const SampleBuffer out = poisoned.process(broken);
        clean.process(SampleBuffer::makeFloat(rate, 2, 480));
        for (float v : out.floats)
            ASSERT_TRUE(std::isfinite(v));

        const Stereo after = run(poisoned, music(), 48000, 480, 5280);
        const Stereo expected = run(clean, music(), 48000, 480, 5280);
        EXPECT_TRUE(after.left == expected.left) << bad;
        EXPECT_TRUE(after.right == expected.right) << bad;
        EXPECT_TRUE(std::isfinite(poisoned.meter().rms[0]));
    }
}

} // namespace
} // namespace tandem
