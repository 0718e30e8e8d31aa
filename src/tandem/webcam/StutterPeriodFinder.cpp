#include "tandem/webcam/StutterPeriodFinder.h"

#include <algorithm>
#include <cmath>

namespace tandem {

namespace {

constexpr size_t shortestLag = 160;    // 40 ms
constexpr size_t longestLag = 2800;    // 0.7 s
constexpr size_t longestWindow = 1600; // 0.4 s
constexpr size_t fewestForSearch = 242;
constexpr size_t fewestSinceStart = 400; // 0.1 s
constexpr double skipAtStart = 0.05;
constexpr double keepFound = 0.3;
constexpr double keepFailure = 0.08;
constexpr double minimumEnergy = 1e-6;
constexpr double clearScore = 0.75;
constexpr double closeScore = 0.03;
constexpr double beatTolerance = 0.06;
constexpr double beatFractions[] = {1.0,     3.0 / 4,  2.0 / 3, 1.0 / 2, 3.0 / 8,  1.0 / 3,
                                    1.0 / 4, 3.0 / 16, 1.0 / 6, 1.0 / 8, 1.0 / 12, 1.0 / 16};

// Sixteen independent partial sums: a single float accumulator is a serial chain the compiler may not
// reorder (that would change the result), so it could not use vector registers. Two rows of eight
// lanes, each small enough for the compiler to unroll, fill four vector registers: enough to hide the
// adds' latency.
float dot(const float* a, const float* b, size_t count) {
    float low[8] = {}, high[8] = {};
    size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        for (size_t k = 0; k < 8; ++k)
            low[k] += a[i + k] * b[i + k];
        for (size_t k = 0; k < 8; ++k)
            high[k] += a[i + 8 + k] * b[i + 8 + k];
    }
    float rest = 0;
    for (; i < count; ++i)
        rest += a[i] * b[i];
    float total = rest;
    for (size_t k = 0; k < 8; ++k)
        total += low[k] + high[k];
    return total;
}

bool nearBeat(double seconds, double beat) {
    for (double f : beatFractions) {
        const double expected = beat * f;
        if (std::fabs(seconds - expected) <= beatTolerance * expected) return true;
    }
    return false;
}

} // namespace

StutterPeriodFinder::StutterPeriodFinder(const Clock& clock)
    : clock(clock)
    , ring(ringLength, 0.0f) {}

void StutterPeriodFinder::add(const SampleBuffer& buffer) {
    if (buffer.format != SampleBuffer::Format::float32 || !(buffer.rate > 0) || buffer.channels < 1 ||
        buffer.floats.size() < buffer.planeCount() * buffer.planeLength())
        return;
    const size_t factor = std::max<size_t>(1, size_t(buffer.rate / envelopeRate));
    const size_t channels = size_t(buffer.channels);
    const float count = float(factor * channels);
    // Frame f of channel c is at first[c] + f × stride in either layout.
    const size_t stride = buffer.interleaved ? channels : 1;
    const float* data = buffer.floats.data();

    std::lock_guard guard(lock);
    for (size_t f = 0; f < buffer.frames; ++f) {
        float frame = 0;
        for (size_t c = 0; c < channels; ++c) {
            const float v = buffer.interleaved ? data[f * stride + c] : data[c * buffer.frames + f];
            frame += std::isfinite(v) ? v : 0.0f;
        }
        sum += frame;
        if (++summed >= factor) {
            ring[write] = sum / count;
            write = write + 1 == ringLength ? 0 : write + 1;
            filled = std::min(filled + 1, ringLength);
            sum = 0;
            summed = 0;
        }
    }
    lastTime = buffer.time + double(buffer.frames) / buffer.rate;
}

std::vector<float> StutterPeriodFinder::lastValues(size_t count) const {
    count = std::min(count, filled);
    std::vector<float> values(count);
    size_t from = (write + ringLength - count) % ringLength;
    const size_t first = std::min(count, ringLength - from);
    std::copy_n(ring.begin() + std::ptrdiff_t(from), first, values.begin());
    std::copy_n(ring.begin(), count - first, values.begin() + std::ptrdiff_t(first));
    return values;
}

std::vector<float> StutterPeriodFinder::envelope(size_t count) const {
    std::lock_guard guard(lock);
    return lastValues(count);
}

std::optional<double> StutterPeriodFinder::period(double since, std::optional<double> beat) {
    std::vector<float> x;
    double now = 0;
    {
        std::lock_guard guard(lock);
        now = clock.uptime();
        if (found && found->since == since) {
            const double age = now - found->at;
            if (found->period && age < keepFound) return found->period;
            if (!found->period && age < keepFailure) return std::nullopt;
        }
        const double available = std::floor((lastTime - (since + skipAtStart)) * envelopeRate);
        if (!(available >= double(fewestSinceStart))) return std::nullopt;
        x = lastValues(std::min(filled, size_t(available)));
        if (x.size() < fewestSinceStart) return std::nullopt;
    }
    // The search runs outside the lock so that the audio queue is never kept waiting for it.
    const std::optional<double> result = search(x, beat);
    std::lock_guard guard(lock);
    found = Found{since, result, now};
    return result;
}

std::optional<double> StutterPeriodFinder::search(std::span<const float> x, std::optional<double> beat) {
    const size_t n = x.size();
    if (n < fewestForSearch) return std::nullopt;

    // Energy of x[a..b) = energy[b] - energy[a]; doubles, so that a late window's energy is not lost
    // in the rounding of a large running total.
    std::vector<double> energy(n + 1);
    energy[0] = 0;
    for (size_t i = 0; i < n; ++i)
        energy[i + 1] = energy[i] + double(x[i]) * double(x[i]);

    const size_t maxLag = n < 4200 ? 2 * n / 3 : longestLag;
    const bool filterByBeat = beat && *beat > 0;

    struct Candidate {
        size_t lag;
        double score;
    };
    std::vector<Candidate> candidates;
    candidates.reserve(maxLag >= shortestLag ? maxLag - shortestLag + 1 : 0);
    for (size_t lag = shortestLag; lag <= maxLag && lag < n; ++lag) {
        if (filterByBeat && !nearBeat(double(lag) / envelopeRate, *beat)) continue;
        const size_t w = std::min(n - lag, longestWindow);
        const double e0 = energy[w];
        const double e1 = energy[lag + w] - energy[lag];
        if (!(e0 > minimumEnergy) || !(e1 > minimumEnergy)) continue;
        const double score = double(dot(x.data(), x.data() + lag, w)) / std::sqrt(e0 * e1);
        if (std::isfinite(score)) candidates.push_back({lag, score});
    }
    if (candidates.empty()) return std::nullopt;

    double best = candidates.front().score;
    for (const Candidate& c : candidates)
        best = std::max(best, c.score);
    if (!(best > clearScore)) return std::nullopt;
    for (const Candidate& c : candidates) {
        if (c.score >= best - closeScore) return double(c.lag) / envelopeRate;
    }
    return std::nullopt;
}

} // namespace tandem
