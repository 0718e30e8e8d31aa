#pragma once

#include <cstdint>
#include <string>

namespace tandem::media {

// Capture devices stamp their data on different clocks: x11grab and PulseAudio (through
// libavdevice) with the wall clock, video4linux2 (its default "-ts") with the kernel's monotonic
// clock. Each is brought to the host clock (Tandem's monotonic uptime) by its own rule, from one
// reading of both clocks taken together.
enum class StampClock { wall, monotonic };

// The clock a libavdevice input format stamps with.
inline StampClock stampClockOf(const std::string& inputFormat) {
    return inputFormat == "video4linux2" || inputFormat == "v4l2" ? StampClock::monotonic : StampClock::wall;
}

// Readings of the three clocks at one moment, seconds.
struct ClockReadings {
    double host = 0;
    double wall = 0;
    double monotonic = 0;
};

// A stamp of `clock` in microseconds (libavdevice's unit), on the host clock.
inline double hostTime(int64_t stampMicroseconds, StampClock clock, const ClockReadings& now) {
    const double stamp = double(stampMicroseconds) / 1e6;
    return clock == StampClock::wall ? stamp - now.wall + now.host : stamp - now.monotonic + now.host;
}

// The three clocks now (the host clock is the system's uptime).
ClockReadings readClocks();

} // namespace tandem::media
