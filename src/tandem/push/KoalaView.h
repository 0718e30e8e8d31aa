#pragma once

#include "tandem/audio/KoalaWaveform.h"
#include "tandem/integration/KoalaSession.h"

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tandem {

// Everything the Push's display shows, as a plain value: the bridge redraws only when it differs
// from the last one drawn.
struct KoalaView {
    // One encoder's cell: its name, value text and level bar (none: no bar).
    struct Cell {
        std::string name;
        std::string value;
        std::optional<double> level; // 0-1
        bool centred = false;        // the bar grows from the middle
        bool on = false;
        bool lit = false;
        bool operator==(const Cell&) const = default;
    };

    int page = 0; // pad 0, EQ 1, FX 2, mixer 3, sequence 4
    std::optional<KoalaWave> wave;
    std::optional<std::vector<KoalaSession::Note>> notes;
    double sequenceBeats = 0;
    bool pianoRoll = false;
    bool localPattern = false;
    bool clockLive = false;
    std::optional<double> playhead; // beats within the sequence
    std::set<int> activePads;
    std::set<double> activePitches;
    std::vector<std::string> upper; // 8
    std::set<int> upperOn, upperAlt;
    std::vector<std::string> lower; // 8
    std::set<int> lowerOn, lowerHeld, lowerDim;
    std::string pad;     // "A1"
    std::string padName; // or "EMPTY"
    int bank = 0;
    std::string status;
    std::string mode;
    std::string message;
    std::vector<Cell> cells;    // 8
    std::vector<Cell> cellsTop; // the FX page's second row
    std::string big;
    std::string hint;

    bool operator==(const KoalaView&) const = default;
};

} // namespace tandem
