#pragma once

#include "base/Clock.h"
#include "platform/SampleBuffer.h"

#include <mutex>

namespace tandem {

// The overlay card's level bar: a peak hold that falls linearly by 3.0 per second. Buffers come in on
// the audio queue, the compose tick reads the value; both under the lock.
class WebcamLevel {
public:
    static constexpr double fallPerSecond = 3.0;

    explicit WebcamLevel(const Clock& clock);
    WebcamLevel(const WebcamLevel&) = delete;
    WebcamLevel& operator=(const WebcamLevel&) = delete;

    // A buffer's peak replaces the held one when it reaches at least what the held one has fallen to.
    void add(const SampleBuffer& buffer);
    // The held peak as it has fallen by now, never below 0.
    float value() const;

    // The largest magnitude of any sample in any channel: float as it is, 16-bit integers over 32768,
    // 0 for other formats. NaN samples are ignored.
    static float peak(const SampleBuffer& buffer);

private:
    float fallen(double now) const;

    const Clock& clock;
    mutable std::mutex lock;
    float held = 0;
    double at = 0;
};

} // namespace tandem
