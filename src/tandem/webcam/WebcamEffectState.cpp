#include "tandem/webcam/WebcamEffectState.h"

#include <cmath>

namespace tandem {

int WebcamEffectState::division(int value) {
    const int step = value - 1;
    if (step < 32) return 1;
    if (step < 64) return 2;
    if (step < 96) return 4;
    return 8;
}

bool WebcamEffectState::stutterFlag(const KoalaPerformanceFeed::Snapshot& feed) {
    return feed.manualStutter || feed.touchStutter || feed.fx.count("STUTTER") > 0;
}

std::optional<double> WebcamEffectState::measuringSince(const KoalaPerformanceFeed::Snapshot& feed) {
    if (!stutterFlag(feed) || !feed.stutterSince || feed.fx.count("STUTTER") > 0) return std::nullopt;
    return feed.stutterSince;
}

WebcamEffectState WebcamEffectState::make(const KoalaPerformanceFeed::Snapshot& feed, double bpm, double now,
                                          std::optional<double> measured) {
    // A tempo of 0 would make every period infinite: a stutter stuck at its cap, a cutter that never cuts.
    const double beat = 60 / (bpm > 0 && std::isfinite(bpm) ? bpm : 120.0);
    WebcamEffectState state;
    if (stutterFlag(feed) && feed.stutterSince) {
        state.stutterStart = *feed.stutterSince;
        if (auto knob = feed.fx.find("STUTTER"); knob != feed.fx.end()) {
            state.stutterPeriod = beat / division(knob->second);
        } else if (measured && *measured > 0 && std::isfinite(*measured)) {
            state.stutterPeriod = *measured;
        } else {
            state.stutterPeriod = beat / 4;
        }
    }
    if (auto knob = feed.fx.find("CUTTER"); knob != feed.fx.end()) {
        state.cutterPeriod = beat / division(knob->second);
        state.cutterStart = feed.cutterSince.value_or(now);
    }
    return state;
}

} // namespace tandem
