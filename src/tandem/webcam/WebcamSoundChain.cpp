#include "tandem/webcam/WebcamSoundChain.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tandem {

namespace {

// The colouring's bias keeps the saturation asymmetric (even harmonics); subtracting tanh(bias) and
// dividing by its slope keeps silence silent and small signals at unity.
constexpr float bias = 0.08f;
constexpr float offset = 0.0798297673f; // tanh(0.08)
constexpr float slope = 0.9936272f;     // 1 - tanh²(0.08)

constexpr double peakFall = 0.85; // the peak hold loses 15 % per buffer

} // namespace

void WebcamSoundChain::configure(double driveDB, bool clipOn, bool limitOn, double thresholdDB) {
    std::lock_guard guard(lock);
    drive = float(std::pow(10.0, driveDB / 20));
    push = thresholdDB < 0 ? float(std::pow(10.0, -thresholdDB / 20)) : 1.0f;
    clip = clipOn;
    limit = limitOn;
}

WebcamSoundChain::Meter WebcamSoundChain::meter() const {
    std::lock_guard guard(lock);
    return readings;
}

double WebcamSoundChain::preparedRate() const {
    return rate;
}

int WebcamSoundChain::lookaheadFrames() const {
    return lookahead;
}

void WebcamSoundChain::prepare(double newRate) {
    rate = newRate;
    lookahead = std::max(1, int(newRate * 0.0015));
    const size_t d = size_t(lookahead) + 1;
    delayL.assign(d, 0.0f);
    delayR.assign(d, 0.0f);
    needed.assign(d, 1.0);
    smoothed.assign(d, 1.0);
    index = 0;
    held = 1.0;
    sum = double(d);
    const double twoPi = 2 * std::numbers::pi;
    lowpassCoef = float(1 - std::exp(-twoPi * 16000 / newRate));
    dcCoef = float(std::exp(-twoPi * 10 / newRate));
    releaseCoef = 1 - std::exp(-1 / (newRate * 0.12));
    vuCoef = 1 - std::exp(-1 / (newRate * 0.3));
    // The window starts full of ones; the youngest of them stands for all.
    minima.assign(d, 0);
    minima[0] = uint32_t(d - 1);
    minimaFront = 0;
    minimaCount = 1;
}

SampleBuffer WebcamSoundChain::process(const SampleBuffer& input) {
    if (input.format != SampleBuffer::Format::float32 || !(input.rate > 0) || input.channels < 1 ||
        input.floats.size() < input.planeCount() * input.planeLength())
        return input;

    SampleBuffer output = input;
    if (input.rate != rate) prepare(input.rate);

    float gainIn = 1, pushGain = 1;
    bool clipOn = true, limitOn = true;
    {
        std::lock_guard guard(lock);
        gainIn = drive;
        clipOn = clip;
        limitOn = limit;
        pushGain = limit ? push : 1.0f;
    }

    // Channel 0 and channel 1 (channel 0 again for mono), wherever the layout puts them.
    const bool stereo = input.channels >= 2;
    float* left = output.floatPlane(0);
    float* right = stereo ? (input.interleaved ? left + 1 : output.floatPlane(1)) : left;
    const size_t stride = input.interleaved ? size_t(input.channels) : 1;

    const size_t d = needed.size();
    const double window = double(d);
    const double ceilingGain = double(ceiling);
    std::array<float, 2> bufferPeak{0.0f, 0.0f};
    double smallestGain = 1.0;

    // The loop works on local copies: the output is written through a float pointer, which as far as
    // the compiler knows could alias any float member and would force it to reload them every frame.
    std::array<float, 2> low = lowpass, inDC = dcIn, outDC = dcOut;
    const float lowCoef = lowpassCoef, blockCoef = dcCoef;
    std::array<double, 2> meanSquares = squares;
    float* const lineL = delayL.data();
    float* const lineR = delayR.data();
    double* const need = needed.data();
    double* const held = smoothed.data();
    uint32_t* const queue = minima.data();
    size_t at = index, front = minimaFront, count = minimaCount;
    double current = this->held, total = sum;

    for (size_t f = 0; f < input.frames; ++f) {
        const size_t sample = f * stride;
        float channel[2] = {gainIn * left[sample], gainIn * right[sample]};
        for (size_t c = 0; c < 2; ++c) {
            float x = channel[c];
            // One NaN or infinity would stay in the filters' state for the rest of the recording.
            if (!std::isfinite(x)) x = 0;
            if (clipOn) {
                low[c] += (x - low[c]) * lowCoef;
                const float y = (std::tanh(low[c] + bias) - offset) / slope;
                const float out = y - inDC[c] + blockCoef * outDC[c];
                inDC[c] = y;
                outDC[c] = out;
                x = out;
            }
            x *= pushGain;
            channel[c] = std::isfinite(x) ? x : 0.0f;
        }

        lineL[at] = channel[0];
        lineR[at] = channel[1];
        const float m = std::max(std::fabs(channel[0]), std::fabs(channel[1]));
        const double wanted = m > ceiling ? ceilingGain / double(m) : 1.0;

        // The slot being overwritten is the window's oldest: if it was the minimum, it leaves.
        if (count > 0 && queue[front] == at) {
            front = front + 1 == d ? 0 : front + 1;
            --count;
        }
        need[at] = wanted;
        while (count > 0) {
            size_t back = front + count - 1;
            if (back >= d) back -= d;
            if (need[queue[back]] < wanted) break;
            --count;
        }
        size_t slot = front + count;
        if (slot >= d) slot -= d;
        queue[slot] = uint32_t(at);
        ++count;

        double target = need[queue[front]];
        if (target >= current) target = current + (target - current) * releaseCoef;
        current = target;

        total += current - held[at];
        held[at] = current;
        const double gain = limitOn ? std::min(total / window, 1.0) : 1.0;
        smallestGain = std::min(smallestGain, gain);

        at = at + 1 == d ? 0 : at + 1;
        float outL = float(gain * double(lineL[at]));
        float outR = float(gain * double(lineR[at]));
        if (limitOn) {
            outL = std::clamp(outL, -ceiling, ceiling);
            outR = std::clamp(outR, -ceiling, ceiling);
        }
        left[sample] = outL;
        if (stereo) right[sample] = outR;

        meanSquares[0] += (double(outL) * outL - meanSquares[0]) * vuCoef;
        meanSquares[1] += (double(outR) * outR - meanSquares[1]) * vuCoef;
        bufferPeak[0] = std::max(bufferPeak[0], std::fabs(outL));
        bufferPeak[1] = std::max(bufferPeak[1], std::fabs(outR));
    }
    lowpass = low;
    dcIn = inDC;
    dcOut = outDC;
    squares = meanSquares;
    index = at;
    minimaFront = front;
    minimaCount = count;
    this->held = current;
    sum = total;

    // The running sum drifts by rounding; the exact sum puts it back.
    double exact = 0;
    for (double s : smoothed)
        exact += s;
    sum = exact;

    std::lock_guard guard(lock);
    for (size_t c = 0; c < 2; ++c) {
        peaks[c] = std::max(peaks[c] * peakFall, double(bufferPeak[c]));
        readings.rms[c] = 10 * std::log10(std::max(squares[c], 1e-9));
        readings.peak[c] = 20 * std::log10(std::max(peaks[c], 1e-5));
    }
    readings.reduction = 20 * std::log10(smallestGain);
    return output;
}

} // namespace tandem
