#include "tandem/audio/KoalaPerformanceFeed.h"

#include "tandem/profiles/KoalaMap.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace tandem {

KoalaPerformanceFeed& KoalaPerformanceFeed::shared() {
    // Never destroyed: queues still sending MIDI while the process exits may observe to the end.
    static KoalaPerformanceFeed* feed =
        std::make_unique<KoalaPerformanceFeed>(SystemClock::shared()).release();
    return *feed;
}

KoalaPerformanceFeed::KoalaPerformanceFeed(Clock& clock)
    : clock(clock) {
    reloadKeys();
}

uint32_t KoalaPerformanceFeed::keyCode(uint8_t kind, uint8_t channelIndex, uint8_t number) {
    return uint32_t(kind) << 16 | uint32_t(channelIndex & 0x0F) << 8 | number;
}

bool KoalaPerformanceFeed::isCentred(const std::string& name) {
    return name == "FILTER" || name == "PITCH" || name == "VIBROFLANGE";
}

double KoalaPerformanceFeed::now() const {
    return double(clock.hostTime()) * clock.hostTimeScale();
}

void KoalaPerformanceFeed::reloadKeys() {
    std::unordered_map<uint32_t, std::string> keys;
    const auto& names = KoalaPushProfile::fxNames();
    for (const auto& [address, key] : KoalaPushProfile::canonicalMap()) {
        auto name = std::find_if(names.begin(), names.end(), [&address = address](const std::string& n) {
            return KoalaPushProfile::fxAddress(n) == address;
        });
        if (name == names.end()) continue;
        uint8_t kind = key.type == "cc" ? 0xB0 : 0x90;
        uint8_t channel = static_cast<uint8_t>(std::clamp<int64_t>(key.channel, 1, 16) - 1);
        uint8_t number = static_cast<uint8_t>(((key.value % 128) + 128) % 128);
        keys[keyCode(kind, channel, number)] = *name;
    }
    std::lock_guard guard(lock);
    fxKeys = std::move(keys);
}

void KoalaPerformanceFeed::observe(std::span<const uint8_t> bytes) {
    std::lock_guard guard(lock);
    size_t i = 0;
    while (i < bytes.size()) {
        const uint8_t status = bytes[i];
        if (status < 0x80 || status >= 0xF0) { // stray data (no running status here) and system bytes
            ++i;
            continue;
        }
        const uint8_t kind = status & 0xF0;
        const size_t length = (kind == 0xC0 || kind == 0xD0) ? 2 : 3;
        if (i + length > bytes.size()) break; // a cut-off message
        const uint8_t channel = status & 0x0F;
        const uint8_t d1 = bytes[i + 1];
        const uint8_t d2 = length == 3 ? bytes[i + 2] : 0;
        i += length;

        if (kind == 0xB0) {
            auto found = fxKeys.find(keyCode(0xB0, channel, d1));
            if (found == fxKeys.end()) continue;
            const std::string& name = found->second;
            bool on = d2 != 0 && (isCentred(name) ? std::abs(int(d2) - 64) >= 6 : d2 >= 4);
            if (on) {
                state.fx[name] = d2;
            } else {
                state.fx.erase(name);
            }
            continue;
        }
        if (kind != 0x90 && kind != 0x80) continue;
        const bool press = kind == 0x90 && d2 > 0;
        if (auto found = fxKeys.find(keyCode(0x90, channel, d1)); found != fxKeys.end()) {
            if (press) {
                state.fx[found->second] = d2;
            } else {
                state.fx.erase(found->second);
            }
            continue;
        }
        std::optional<Hit> strike;
        if (channel == 12) { // Koala's keyboard
            if (press) strike = Hit{d1, false, true, d1, 0};
        } else if (channel == 15) { // the pads
            int pad = d1 - (state.chopperMode ? 60 : 36);
            if (press && pad >= 0 && pad <= 63) strike = Hit{pad, state.chopperMode, false, d1, 0};
        } else {
            continue;
        }
        if (strike) {
            strike->time = now();
            state.lastHit = strike;
            state.held[d1] = strike->time;
        } else if (!press) {
            state.held.erase(d1);
        }
    }
    settle();
}

void KoalaPerformanceFeed::settle() {
    const bool stutter = state.manualStutter || state.touchStutter || state.fx.count("STUTTER");
    const bool cutter = state.fx.count("CUTTER") > 0;
    if (!stutter) {
        state.stutterSince.reset();
    } else if (!state.stutterSince) {
        state.stutterSince = now();
    }
    if (!cutter) {
        state.cutterSince.reset();
    } else if (!state.cutterSince) {
        state.cutterSince = now();
    }
}

KoalaPerformanceFeed::Snapshot KoalaPerformanceFeed::snapshot() const {
    std::lock_guard guard(lock);
    return state;
}

void KoalaPerformanceFeed::setChopperMode(bool on) {
    std::lock_guard guard(lock);
    state.chopperMode = on;
}

void KoalaPerformanceFeed::setPage(std::optional<std::string> page) {
    std::lock_guard guard(lock);
    state.page = std::move(page);
}

void KoalaPerformanceFeed::setManualStutter(bool on) {
    std::lock_guard guard(lock);
    state.manualStutter = on;
    settle();
}

void KoalaPerformanceFeed::setTouchStutter(bool on) {
    std::lock_guard guard(lock);
    state.touchStutter = on;
    settle();
}

} // namespace tandem
