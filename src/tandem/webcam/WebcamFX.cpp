#include "tandem/webcam/WebcamFX.h"

#include <algorithm>
#include <cmath>

namespace tandem {

namespace {

// The non-negative remainder: a clock read just before a start time still lands inside a period.
double wrap(double value, double period) {
    const double r = std::fmod(value, period);
    return r < 0 ? r + period : r;
}

} // namespace

std::optional<QImage> WebcamFX::stutter(double now, const WebcamEffectState& state,
                                        const std::optional<QImage>& half, double& dissolve) {
    dissolve = -1;
    const double period = std::min(state.stutterPeriod, loopSeconds);
    const double start = state.stutterStart;
    if (!from || *from != start) {
        from = start;
        loop.clear();
        for (const Stored& stored : recentFrames)
            if (stored.time >= start - lookBack) loop.push_back(stored);
    } else if (half && now - start < loopSeconds) {
        loop.push_back({now, *half});
    }
    if (loop.empty()) return std::nullopt;

    const double phase = wrap(now - start, period);
    // The last frame taken at or before start + phase; the first when the loop begins later than that.
    auto after = std::upper_bound(loop.begin(), loop.end(), start + phase,
                                  [](double time, const Stored& stored) { return time < stored.time; });
    const QImage& frame = after == loop.begin() ? loop.front().buffer : std::prev(after)->buffer;

    const double fade = std::min(longestFade, period * 0.25);
    if (phase < fade && now - start >= period && lastStutter) {
        dissolve = phase / fade;
        return frame;
    }
    lastStutter = frame;
    return frame;
}

QImage WebcamFX::process(const QImage& picture, double now, const WebcamEffectState& state, QSize frame) {
    std::optional<QImage> half = store.half(picture);
    if (half) recentFrames.push_back({now, *half});
    while (!recentFrames.empty() && now - recentFrames.front().time > recentSeconds)
        recentFrames.pop_front();

    std::optional<QImage> looped;
    double dissolve = -1;
    if (state.stutterPeriod <= 0) {
        if (from) {
            from.reset();
            loop.clear();
            lastStutter.reset();
        }
    } else {
        looped = stutter(now, state, half, dissolve);
    }

    const int width = frame.width(), height = frame.height();
    if (state.cutterPeriod > 0) {
        const double position = (now - state.cutterStart) / state.cutterPeriod;
        if (position - std::floor(position) >= 0.5) {
            if (auto black = output.black(width, height)) return *black;
        }
    }
    if (looped) {
        // Mixing at half size and scaling once costs a quarter of mixing the full pictures; scaling is
        // linear, so the result is the same.
        std::optional<QImage> shown = looped;
        if (dissolve >= 0) shown = mix.dissolve(*lastStutter, *looped, dissolve);
        if (shown) {
            if (auto whole = output.twice(*shown, width, height)) return *whole;
        }
    }
    if (picture.size() == frame) return picture;
    if (auto cropped = output.render(picture, width, height)) return *cropped;
    return picture;
}

} // namespace tandem
