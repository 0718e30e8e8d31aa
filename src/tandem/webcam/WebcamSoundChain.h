#pragma once

#include "platform/SampleBuffer.h"

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

namespace tandem {

// Every buffer of a recording's sound passes through here: a drive gain, the "MPC3000 OUT" colouring
// (16 kHz lowpass, biased soft saturation, DC blocker) and a look-ahead brick-wall limiter with a
// −1 dB ceiling that a threshold pushes into. It keeps the readings the meter view draws.
//
// `process` runs on whichever audio queue is active (one at a time); `configure` and `meter` may come
// from any thread. The lock is held only to read the settings and to publish the readings, so the
// processing loop never holds up the main thread.
class WebcamSoundChain {
public:
    // The readings, per channel (left, right) in dB; `reduction` is 0 or negative.
    struct Meter {
        std::array<double, 2> rms{-90, -90};
        std::array<double, 2> peak{-90, -90};
        double reduction = 0;

        bool operator==(const Meter&) const = default;
    };

    // The limiter's ceiling, linear (≈ −1 dBFS).
    static constexpr float ceiling = 0.891f;

    WebcamSoundChain() = default;
    WebcamSoundChain(const WebcamSoundChain&) = delete;
    WebcamSoundChain& operator=(const WebcamSoundChain&) = delete;

    // Drive in dB; a negative threshold pushes the signal that many dB into the limiter, zero or more
    // pushes nothing.
    void configure(double driveDB, bool clip, bool limit, double thresholdDB);

    // 32-bit float buffers with a positive rate and at least one channel come back processed, with the
    // input's layout and timing, delayed by the look-ahead; anything else comes back unchanged and
    // leaves the readings alone. Channels beyond the second pass through untouched.
    SampleBuffer process(const SampleBuffer& input);

    Meter meter() const;

    // What the state was last prepared for (0 before the first float buffer). Read on the processing
    // queue, like the state itself.
    double preparedRate() const;
    int lookaheadFrames() const;

private:
    void prepare(double newRate);

    mutable std::mutex lock;
    // Guarded by `lock`.
    float drive = 1.0f;
    float push = 1.0f;
    bool clip = true;
    bool limit = true;
    Meter readings;

    // Everything below belongs to the processing queue. Samples and filter states are floats; the
    // limiter's gains are doubles so that the per-buffer re-sum of `smoothed` lands on the same values
    // wherever buffers split, and so that the release gets all the way back to 1.
    double rate = 0;
    int lookahead = 0;
    std::array<float, 2> lowpass{};
    std::array<float, 2> dcIn{};
    std::array<float, 2> dcOut{};
    float lowpassCoef = 0;
    float dcCoef = 0;
    double releaseCoef = 0;
    double vuCoef = 0;
    std::vector<float> delayL;
    std::vector<float> delayR;
    std::vector<double> needed;
    std::vector<double> smoothed;
    size_t index = 0;
    double held = 1.0;
    double sum = 0;
    std::array<double, 2> squares{};
    std::array<double, 2> peaks{};

    // The window minimum of `needed`: ring positions whose values increase from front to back, the
    // front the oldest. A position leaves at the front when its slot is about to be overwritten, and
    // at the back when a newer value is no larger, so the front always holds the window's minimum
    // (the same value a scan of the whole window would find).
    std::vector<uint32_t> minima;
    size_t minimaFront = 0;
    size_t minimaCount = 0;
};

} // namespace tandem
