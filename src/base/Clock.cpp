#include "base/Clock.h"

#include <thread>

namespace tandem {

double SystemClock::uptime() const {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::chrono::system_clock::time_point SystemClock::date() const {
    return std::chrono::system_clock::now();
}

uint64_t SystemClock::hostTime() const {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count());
}

void SystemClock::sleep(double seconds) {
    if (seconds > 0) std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

SystemClock& SystemClock::shared() {
    static SystemClock clock;
    return clock;
}

} // namespace tandem
