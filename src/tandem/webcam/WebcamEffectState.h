#pragma once

#include "tandem/audio/KoalaPerformanceFeed.h"

#include <optional>

namespace tandem {

// What the picture effects do on one compose tick, built from the performance feed's snapshot.
// Periods are seconds; 0 is off.
struct WebcamEffectState {
    double stutterPeriod = 0;
    double stutterStart = 0;
    double cutterPeriod = 0;
    double cutterStart = 0;

    bool operator==(const WebcamEffectState&) const = default;

    // The note a knob value (0-127) picks: 1, 2, 4 or 8 to the beat (quarter to thirty-second notes).
    static int division(int value);
    // On when the hold button, the held STUTTER spot or the STUTTER control is on.
    static bool stutterFlag(const KoalaPerformanceFeed::Snapshot& feed);
    // The start time to measure Koala's own stutter from, when its period is wanted: the stutter is on,
    // has a start, and no STUTTER knob value sets the period.
    static std::optional<double> measuringSince(const KoalaPerformanceFeed::Snapshot& feed);
    // The state for `feed` at `bpm` (the painter's tempo; anything not above 0 counts as 120) and `now`.
    // `measured` is the period measured for `measuringSince(feed)` with a beat of 60 / bpm; without it
    // the stutter falls back to a sixteenth note.
    static WebcamEffectState make(const KoalaPerformanceFeed::Snapshot& feed, double bpm, double now,
                                  std::optional<double> measured);
};

} // namespace tandem
