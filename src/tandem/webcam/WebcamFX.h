#pragma once

#include "tandem/webcam/FrameRenderer.h"
#include "tandem/webcam/WebcamEffectState.h"

#include <QImage>
#include <QSize>

#include <deque>
#include <optional>
#include <vector>

namespace tandem {

// The picture effects: a stutter that loops the frames since it began at its period, with a short
// dissolve into each repetition, and a cutter that blacks the picture out on the second half of each
// of its periods. Frames are kept at half size, 0.4 s of them always and up to 1 s as loop material.
// Used on the compose queue only.
class WebcamFX {
public:
    struct Stored {
        double time = 0;
        QImage buffer; // half size
    };

    static constexpr double recentSeconds = 0.4;
    static constexpr double loopSeconds = 1.0; // the longest loop material, and the longest period
    static constexpr double lookBack = 0.02;   // a new loop starts this much before its start time
    static constexpr double longestFade = 0.05;

    // The picture after the effects, cropped to `frame`; unchanged (shared) when neither effect is on.
    QImage process(const QImage& picture, double now, const WebcamEffectState& state, QSize frame);

    const std::deque<Stored>& recent() const { return recentFrames; }
    const std::vector<Stored>& history() const { return loop; }
    std::optional<double> loopFrom() const { return from; }

private:
    // The loop picture at half size for this tick, and whether it dissolves from the last one.
    std::optional<QImage> stutter(double now, const WebcamEffectState& state,
                                  const std::optional<QImage>& half, double& dissolve);

    std::vector<Stored> loop;          // the frames of the running stutter
    std::deque<Stored> recentFrames;   // the last 0.4 s
    std::optional<double> from;        // start time of the running stutter
    std::optional<QImage> lastStutter; // the loop picture last shown, at half size
    FrameRenderer store;               // half-size copies
    FrameRenderer mix;                 // half-size dissolves
    FrameRenderer output;              // full-size results
};

} // namespace tandem
