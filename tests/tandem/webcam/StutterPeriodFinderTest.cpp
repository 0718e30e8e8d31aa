// Koala's stutter period from its sound: the 4 kHz envelope, when a search runs and how long its
// answer is kept, and the search's choices on envelopes built to sit on its edges.
#include "tandem/webcam/StutterPeriodFinder.h"

#include "base/SimTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

namespace tandem {
namespace {

using Audio = std::function<float(size_t frame, int channel)>;

// Feeds `seconds` of `audio` from host time `start` in 480-frame buffers.
void feed(StutterPeriodFinder& finder, const Audio& audio, double start, double seconds, double rate = 48000,
          int channels = 2, bool interleaved = true) {
    const size_t frames = size_t(std::lround(seconds * rate));
    for (size_t at = 0; at < frames; at += 480) {
        const size_t count = std::min<size_t>(480, frames - at);
        SampleBuffer buffer =
            SampleBuffer::makeFloat(rate, channels, count, interleaved, start + double(at) / rate);
        for (size_t f = 0; f < count; ++f) {
            for (int c = 0; c < channels; ++c)
                buffer.floatAt(f, c) = audio(at + f, c);
        }
        finder.add(buffer);
    }
}

// A click every `period` seconds at 48 kHz, on both channels.
Audio clicks(double period) {
    const size_t every = size_t(std::lround(period * 48000));
    return [every](size_t f, int) { return f % every == 0 ? 1.0f : 0.0f; };
}

// Deterministic noise in -1…1, the same on every machine.
std::vector<float> noise(size_t count, uint32_t seed) {
    std::vector<float> values(count);
    for (float& v : values) {
        seed = seed * 1664525u + 1013904223u;
        v = float(seed >> 8) / float(1 << 24) * 2 - 1;
    }
    return values;
}

// The normalised correlation at one lag, as a plain double loop.
double score(const std::vector<float>& x, size_t lag) {
    const size_t w = std::min<size_t>(x.size() - lag, 1600);
    double dot = 0, e0 = 0, e1 = 0;
    for (size_t i = 0; i < w; ++i) {
        dot += double(x[i]) * x[i + lag];
        e0 += double(x[i]) * x[i];
        e1 += double(x[i + lag]) * x[i + lag];
    }
    return dot / std::sqrt(e0 * e1);
}

TEST(StutterPeriodFinder, DecimatesToAFourKilohertzMeanOfAllChannels) {
    SimTime time;
    StutterPeriodFinder finder(time);
    EXPECT_TRUE(finder.envelope(10).empty());

    // 48 kHz: 12 frames a value, the mean over both channels. Left counts frames, right holds 1.
    SampleBuffer stereo = SampleBuffer::makeFloat(48000, 2, 30, true, 5.0);
    for (size_t f = 0; f < 30; ++f) {
        stereo.floatAt(f, 0) = float(f);
        stereo.floatAt(f, 1) = 1.0f;
    }
    finder.add(stereo);
    EXPECT_EQ(finder.envelope(10), (std::vector<float>{(66.0f + 12) / 24, (210.0f + 12) / 24}));

    // Only float buffers with a rate count; non-finite samples count as 0.
    StutterPeriodFinder picky(time);
    picky.add(SampleBuffer::makeInt16(4000, 1, 100));
    picky.add(SampleBuffer::makeFloat(0, 1, 100));
    EXPECT_TRUE(picky.envelope(10).empty());
    SampleBuffer broken = SampleBuffer::makeFloat(8000, 1, 4);
    broken.floats = {std::numeric_limits<float>::quiet_NaN(), 1.0f, std::numeric_limits<float>::infinity(),
                     3.0f};
    picky.add(broken);
    EXPECT_EQ(picky.envelope(10), (std::vector<float>{0.5f, 1.5f}));
}

TEST(StutterPeriodFinder, TheRingKeepsTheLastThreeSecondsInOrder) {
    SimTime time;
    StutterPeriodFinder finder(time);
    const Audio count = [](size_t f, int) { return float(f); };
    feed(finder, count, 0, 13000.0 / 4000, 4000, 1);
    const std::vector<float> all = finder.envelope(20000);
    ASSERT_EQ(all.size(), 12000u);
    for (size_t i = 0; i < all.size(); ++i)
        ASSERT_EQ(all[i], float(1000 + i)) << i;
}

TEST(StutterPeriodFinder, FindsAClickTrainAtAQuarterOfTheBeat) {
    SimTime time;
    StutterPeriodFinder finder(time);
    feed(finder, clicks(0.125), 10.0, 3.0);
    const auto found = finder.period(10.0, 0.5);
    ASSERT_TRUE(found);
    EXPECT_DOUBLE_EQ(*found, 0.125);

    // Without a beat every lag is a candidate; a beat none of whose fractions is near 0.125 s or its
    // multiples leaves none.
    EXPECT_EQ(StutterPeriodFinder::search(finder.envelope(12000), std::nullopt), 0.125);
    EXPECT_EQ(StutterPeriodFinder::search(finder.envelope(12000), 0.45), std::nullopt);

    // Silence has no energy to compare.
    StutterPeriodFinder quiet(time);
    feed(
        quiet, [](size_t, int) { return 0.0f; }, 10.0, 3.0);
    EXPECT_EQ(quiet.period(10.0, 0.5), std::nullopt);
}

// Repeats every 0.5 s, and nearly every 0.25 s: the two halves of each repetition differ by `eps`.
std::vector<float> halves(float eps) {
    const std::vector<float> a = noise(1000, 3), b = noise(1000, 5);
    std::vector<float> x(12000);
    for (size_t k = 0; k < x.size(); ++k)
        x[k] = a[k % 1000] + (k % 2000 >= 1000 ? eps * b[k % 1000] : 0.0f);
    return x;
}

TEST(StutterPeriodFinder, PrefersTheShortestRepetitionWithinThreeHundredthsOfTheBest) {
    const std::vector<float> close = halves(0.2f);
    ASSERT_GT(score(close, 1000), 0.97);
    ASSERT_NEAR(score(close, 2000), 1.0, 1e-6);
    EXPECT_EQ(StutterPeriodFinder::search(close, 0.5), 0.25);

    const std::vector<float> apart = halves(0.3f);
    ASSERT_LT(score(apart, 1000), 0.965);
    EXPECT_EQ(StutterPeriodFinder::search(apart, 0.5), 0.5);
}

// Two pulses of 3 at 0 and 1200 (0.3 s) and unit pulses that never line up at 1200: at lag 1200 the
// two windows each hold 9 + units of energy and their product is 9. With three units a window the score
// is 9 / 12, exactly 0.75 in floating point (every sum is a small whole number), and no other lag does
// better; with two it is 9 / 11.
std::vector<float> pulses(std::initializer_list<size_t> units) {
    std::vector<float> x(2400, 0.0f);
    x[0] = 3;
    x[1200] = 3;
    for (size_t at : units)
        x[at] = 1;
    return x;
}

TEST(StutterPeriodFinder, ABestScoreOfExactlyThreeQuartersIsNotEnough) {
    const std::vector<float> atEdge = pulses({100, 350, 700, 1500, 1850, 2250});
    ASSERT_EQ(score(atEdge, 1200), 0.75);
    EXPECT_EQ(StutterPeriodFinder::search(atEdge, std::nullopt), std::nullopt);

    const std::vector<float> above = pulses({100, 700, 1850, 2250});
    ASSERT_NEAR(score(above, 1200), 9.0 / 11, 1e-12);
    EXPECT_EQ(StutterPeriodFinder::search(above, std::nullopt), 0.3);
}

// The search looks only at sound from 50 ms after the stutter began, and wants 0.1 s of it.
TEST(StutterPeriodFinder, WaitsForATenthOfASecondAfterTheFirstFiftyMilliseconds) {
    SimTime time;
    StutterPeriodFinder finder(time);
    feed(finder, clicks(0.05), 0.0, 1.0);                                // the audio ends at host time 1.0
    EXPECT_EQ(finder.period(0.85 + 0.0001, std::nullopt), std::nullopt); // 399 values
    EXPECT_EQ(finder.period(0.85 - 0.0001, std::nullopt), 0.05);         // 400
    EXPECT_EQ(finder.period(2.0, std::nullopt), std::nullopt) << "a stutter after the sound";
}

TEST(StutterPeriodFinder, KeepsAnswersForAWhileUnlessTheStutterChanges) {
    SimTime time;
    StutterPeriodFinder finder(time);
    feed(finder, clicks(0.125), 0.0, 3.0);
    EXPECT_EQ(finder.period(0.0, 0.5), 0.125);

    // The sound moves to 0.2 s clicks: the answer stays until 0.3 s have passed.
    feed(finder, clicks(0.2), 3.0, 3.0);
    time.advance(0.29);
    EXPECT_EQ(finder.period(0.0, 0.5), 0.125);
    time.advance(0.02);
    EXPECT_EQ(finder.period(0.0, 0.4), 0.2);

    // A failure is kept for 0.08 s.
    StutterPeriodFinder fresh(time);
    feed(
        fresh, [](size_t, int) { return 0.0f; }, 20.0, 3.0);
    EXPECT_EQ(fresh.period(20.0, 0.5), std::nullopt);
    feed(fresh, clicks(0.125), 23.0, 3.0);
    time.advance(0.07);
    EXPECT_EQ(fresh.period(20.0, 0.5), std::nullopt);
    time.advance(0.02);
    EXPECT_EQ(fresh.period(20.0, 0.5), 0.125);
}

} // namespace
} // namespace tandem
