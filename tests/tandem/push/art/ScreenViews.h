#pragma once

#include "tandem/push/KoalaView.h"

#include <cmath>
#include <string>
#include <vector>

// Views of each page as the controller would hand them over, made by hand.
namespace tandem::screens {

inline const std::vector<std::string> upperLabels = {"PAD", "EQ",       "FX",   "MIXER",
                                                     "SEQ", "KEYBOARD", "LOAD", "SETTINGS"};

inline KoalaView base(int page) {
    KoalaView view;
    view.page = page;
    view.upper = upperLabels;
    view.upperOn = {page};
    view.pad = "A1";
    view.padName = "KICK 808";
    view.bank = 0;
    view.status = "■ STOPPED  SEQ 1  120.0 BPM  SAVED / LOCAL";
    return view;
}

// A drum hit: a fast attack and a long decay, with some wobble.
inline std::vector<float> decayingPeaks(size_t count = 960) {
    std::vector<float> peaks(count);
    for (size_t k = 0; k < count; ++k) {
        double t = static_cast<double>(k) / static_cast<double>(count);
        double envelope = t < 0.02 ? t / 0.02 : std::exp(-(t - 0.02) * 4);
        peaks[k] = static_cast<float>(envelope * (0.75 + 0.25 * std::abs(std::sin(t * 90))));
    }
    return peaks;
}

inline KoalaView padPage() {
    KoalaView view = base(0);
    view.lower = {"ONE SHOT", "LOOP", "REVERSE", "MUTE", "SOLO", "MIC IN", "RESAMPLE", "FILE IN"};
    view.lowerOn = {0};
    KoalaWave wave;
    wave.peaks = decayingPeaks();
    wave.slices = {0.1, 0.22, 0.35, 0.5, 0.63, 0.77};
    wave.start = 0.05;
    wave.end = 0.9;
    wave.duration = 2.4;
    wave.frames = 105840;
    view.wave = wave;
    view.cells = {{"VOLUME", "80%", 0.8}, {"PITCH", "0 ST", 0.5, true}};
    view.hint = "PADS: A–D · EDITING A1 · * CONTROLS EDIT · * = KOALA'S";
    return view;
}

inline KoalaView eqPage() {
    KoalaView view = base(1);
    view.lower = {"LOW FLAT", "MID FLAT", "HIGH FLAT", "ALL FLAT", "ONE SHOT", "LOOP", "REVERSE", "MUTE"};
    view.lowerOn = {5};
    view.cells = {
        {"LOW", "+3.5 DB", 0.6, true},
        {"LOW FREQ", "120 HZ", 0.3},
        {"MID", "0 DB", 0.5, true, false, true},
        {"MID FREQ", "1.2 KHZ", 0.55},
        {"HIGH", "-6.0 DB", 0.33, true},
        {"HIGH FREQ", "8.0 KHZ", 0.8},
        {"GAIN", "72%", 0.72},
        {"TRIM *", "LONG NAME THAT DOES NOT FIT", std::nullopt},
    };
    view.hint = "EQ EDITS KOALA'S SELECTED PAD A1";
    return view;
}

inline KoalaView fxPage() {
    KoalaView view = base(2);
    const char* names[] = {"DELAY",  "REVERB", "FILTER", "BITCRUSH", "CHORUS",  "FLANGER",
                           "PHASER", "DRIVE",  "COMP",   "TAPE",     "STUTTER", "PITCH"};
    for (int i = 0; i < 8; ++i)
        view.lower.push_back(names[i]);
    view.lowerOn = {1, 3};
    for (int i = 0; i < 16; ++i) {
        KoalaView::Cell cell;
        if (i < 12) {
            cell.name = std::to_string(i + 1) + " " + names[i];
            cell.level = (i * 37 % 128) / 127.0;
            cell.on = i == 1 || i == 3 || i == 9;
            cell.lit = i == 3 || i == 10;
        }
        (i < 8 ? view.cells : view.cellsTop).push_back(cell);
    }
    return view;
}

inline KoalaView mixerPage() {
    KoalaView view = base(3);
    view.lower = {"A MUTE", "B MUTE", "C MUTE", "D MUTE", "MAIN MUTE", "SAMPLE", "PERFORM", "SEQUENCE"};
    view.lowerOn = {2};
    view.lowerHeld = {1};
    view.lowerDim = {4};
    view.message = "BUS B MUTED";
    view.cells = {{"BUS A", "100%", 1.0}, {"BUS B", "64%", 0.64},        {"BUS C", "0%", 0.0},
                  {"BUS D", "50%", 0.5},  {"PAN A", "C", 0.5, true},     {"PAN B", "L40", 0.3, true},
                  {"MAIN", "90%", 0.9},   {"BPM", "120.0", std::nullopt}};
    return view;
}

inline KoalaView sequencePage() {
    KoalaView view = base(4);
    view.status = "2.3  SEQ 2  120.0 BPM  SAVED / LOCAL";
    view.lower = {"PLAY", "RECORD", "QUANTIZE", "PIANO ROLL", "BARS −", "BARS +", "TEMPO", "(SHIFT) CLEAR"};
    view.lowerOn = {0};
    view.sequenceBeats = 16;
    view.clockLive = true;
    view.playhead = 6.5;
    view.activePads = {2};
    std::vector<KoalaSession::Note> notes;
    for (int step = 0; step < 16; ++step) {
        notes.push_back({0, static_cast<double>(step), 0.25, 60, 100, {}});
        if (step % 4 == 2) notes.push_back({2, static_cast<double>(step), 0.5, 62, 100, {}});
        if (step % 3 == 0) notes.push_back({7, static_cast<double>(step) + 0.5, 0.25, 67, 90, {}});
        if (step % 8 == 4) notes.push_back({13, static_cast<double>(step), 2, 73, 100, {}});
    }
    notes.push_back({19, 10.75, 0, 60, 100, {}}); // bank B, no length
    view.notes = notes;
    view.cells = {{"SWING", "0%", 0.0}};
    return view;
}

// The keyboard choosing a pad: big text, the keyboard's label marked.
inline KoalaView choosing() {
    KoalaView view = base(0);
    view.upperAlt = {5};
    view.big = "KEYBOARD: CHOOSING A PAD";
    view.hint = "A CHOPPER: ITS CHOPS · ANY OTHER PAD: 16 LEVELS · KEYBOARD AGAIN: CANCEL";
    view.lower = {"ONE SHOT", "LOOP", "REVERSE", "MUTE", "SOLO", "MIC IN", "RESAMPLE", "FILE IN"};
    return view;
}

} // namespace tandem::screens
