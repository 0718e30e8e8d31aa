#include "tandem/webcam/WebcamLevel.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace tandem {

WebcamLevel::WebcamLevel(const Clock& clock)
    : clock(clock) {}

float WebcamLevel::peak(const SampleBuffer& buffer) {
    float largest = 0;
    switch (buffer.format) {
    case SampleBuffer::Format::float32:
        for (float v : buffer.floats) {
            // Written this way round so that a NaN never wins.
            const float magnitude = std::fabs(v);
            if (magnitude > largest) largest = magnitude;
        }
        break;
    case SampleBuffer::Format::int16: {
        int largestCode = 0;
        for (int16_t v : buffer.integers)
            largestCode = std::max(largestCode, std::abs(int(v)));
        largest = float(largestCode) / 32768.0f;
        break;
    }
    case SampleBuffer::Format::other:
        break;
    }
    return largest;
}

float WebcamLevel::fallen(double now) const {
    return std::max(0.0f, float(double(held) - (now - at) * fallPerSecond));
}

void WebcamLevel::add(const SampleBuffer& buffer) {
    const float p = peak(buffer);
    const double now = clock.uptime();
    std::lock_guard guard(lock);
    if (p >= fallen(now)) {
        held = p;
        at = now;
    }
}

float WebcamLevel::value() const {
    const double now = clock.uptime();
    std::lock_guard guard(lock);
    return fallen(now);
}

} // namespace tandem
