#include "platform/linux/MediaClock.h"

#include "base/Clock.h"

#include <time.h>

namespace tandem::media {

namespace {

double seconds(clockid_t id) {
    timespec now{};
    clock_gettime(id, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

} // namespace

ClockReadings readClocks() {
    // Read the host clock between the other two so that it sits in the middle of the readings.
    ClockReadings now;
    now.wall = seconds(CLOCK_REALTIME);
    now.host = SystemClock::shared().uptime();
    now.monotonic = seconds(CLOCK_MONOTONIC);
    return now;
}

} // namespace tandem::media
