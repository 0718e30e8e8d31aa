#pragma once

#include "base/Clock.h"
#include "platform/SampleBuffer.h"

#include <array>
#include <cstddef>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

namespace tandem {

// Measures the loop Koala's own STUTTER repeats, from Koala's sound, so that the picture stutters at
// exactly Koala's timing. The sound is kept as a 4 kHz mono envelope (three seconds of it); a search
// finds the shortest clear repetition since the stutter began.
//
// `add` runs on the audio source's queue, `period` on the compose queue; both hold the lock.
class StutterPeriodFinder {
public:
    static constexpr double envelopeRate = 4000;
    static constexpr size_t ringLength = 12000; // 3 s

    explicit StutterPeriodFinder(const Clock& clock);
    StutterPeriodFinder(const StutterPeriodFinder&) = delete;
    StutterPeriodFinder& operator=(const StutterPeriodFinder&) = delete;

    // Folds a buffer into the envelope: every D = rate / 4000 frames (at least 1) become one value, the
    // mean of all their channels' samples. Only 32-bit float buffers with a positive rate are used;
    // non-finite samples count as 0.
    void add(const SampleBuffer& buffer);

    // The loop length in seconds of the stutter that began at `since` (host seconds), searched in the
    // envelope from 50 ms after it, near a fraction of `beat` (seconds) when one is given. A period
    // found is kept for 0.3 s, a failure for 0.08 s, as long as `since` stays the same.
    std::optional<double> period(double since, std::optional<double> beat = std::nullopt);

    // The last `count` envelope values in time order (fewer when fewer were made).
    std::vector<float> envelope(size_t count) const;

    // The search itself, over an envelope at 4000 values per second: the smallest lag, 40 ms to
    // 0.7 s, whose normalised correlation is within 0.03 of the best one, when the best is above 0.75.
    static std::optional<double> search(std::span<const float> x, std::optional<double> beat);

private:
    struct Found {
        double since = 0;
        std::optional<double> period;
        double at = 0;
    };

    std::vector<float> lastValues(size_t count) const;

    const Clock& clock;
    mutable std::mutex lock;
    std::vector<float> ring;
    size_t write = 0;
    size_t filled = 0;
    double lastTime = 0;
    float sum = 0;
    size_t summed = 0;
    std::optional<Found> found;
};

} // namespace tandem
