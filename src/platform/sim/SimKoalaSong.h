#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tandem {

// Koala's song as the simulated Koala holds it: everything its five song files carry, plus the few
// switches Koala keeps only while it runs (metronome, sample solo, whether an effect is on). A plain
// value: tests build one, seed Koala with it and compare what Koala did against it.
struct SimKoalaSong {
    struct Sample {
        int64_t id = 0;
        std::string path;  // saved as "metadata.originalPath"; its file name is the sample's name
        double frames = 0; // length in frames, never saved (Koala reads it from the audio)
        bool operator==(const Sample&) const = default;
    };
    struct EqBand {
        double freq = 1000;
        double gain = 0;
        double q = 1;
        std::string type = "peaking";
        bool operator==(const EqBand&) const = default;
    };
    struct Pad {
        std::optional<int64_t> sampleID; // none: the pad is empty
        bool chopper = false;            // a sample cut into slices (Koala's "CHOPPER" synth)
        std::string label;
        double vol = 1.0;
        double pan = 0.5;
        double pitch = 0;
        double tone = 0;
        double attack = 0;
        double release = 0;
        double start = 0; // frames
        std::optional<double> end;
        int64_t choke = 0;
        int64_t bus = -1; // -1: no bus
        bool oneShot = false;
        bool loop = false;
        bool reverse = false;
        bool muted = false;
        bool eqOn = false;
        std::array<EqBand, 3> eq{EqBand{100, 0, 1, "lowshelf"}, EqBand{1000, 0, 1, "peaking"},
                                 EqBand{8000, 0, 1, "highshelf"}};
        std::vector<double> slices; // a chopper's slice starts in frames, ascending
        bool nextMode = false;      // a chopper's trigger mode "next"

        bool loaded() const { return sampleID.has_value() || chopper; }
        bool operator==(const Pad&) const = default;
    };
    struct Note {
        int64_t pad = 0;
        double beat = 0;   // from the start of the sequence; a multiple of 1/4096 (Koala's tick)
        double length = 1; // beats, at least 1/4096
        double pitch = 0;
        double velocity = 100;
        std::optional<int64_t> slice; // the chopper slice it plays
        bool operator==(const Note&) const = default;
    };
    struct Sequence {
        int64_t bars = 1;
        std::vector<Note> notes;
        bool operator==(const Sequence&) const = default;
    };
    struct ChainEffect {
        std::string name;
        bool bypass = false;
        bool operator==(const ChainEffect&) const = default;
    };
    struct Bus {
        double volume = 0.8;
        bool mute = false;
        bool solo = false;
        std::vector<ChainEffect> chain;
        bool operator==(const Bus&) const = default;
    };
    struct Effect {
        std::string name;
        double value = 0;
        bool on = false; // not saved
        bool operator==(const Effect&) const = default;
    };

    std::vector<Sample> samples;
    std::array<Pad, 64> pads;
    std::optional<double> bpm = 120.0;
    double swing = 0;
    int64_t currentSequence = 0;
    bool quantizing = true;
    int64_t beatsPerBar = 4;
    int64_t quantizeDivision = 16;
    std::string seqSnap = "1";
    std::vector<Sequence> sequences = std::vector<Sequence>(8);
    std::array<Bus, 4> buses;
    Bus master;
    bool fxHold = false;
    std::array<Effect, 16> effects = blankEffects();
    bool keyboardMode = false;
    int64_t selectedPad = 0;
    std::string name;
    std::string keyboardScale = "CHROMATIC";
    // Kept only while Koala runs.
    bool metronome = false;
    bool sampleSolo = false;

    bool operator==(const SimKoalaSong&) const = default;

    // The song a fresh simulated Koala holds: twelve loaded pads (A1-A12) with named samples of
    // 1-10 s at 44.1 kHz, a chopper with ten slices on A13, sequence 1 with a four-bar beat, the
    // sixteen effects, four buses, eight sequences, 120 BPM and pad A1 selected.
    static SimKoalaSong standard();

    // Koala's sixteen performance effects, in its order, and the command address of each.
    static const std::array<std::string, 16>& effectNames();
    static std::string effectAddress(const std::string& name);

    // The length of a sample, when the song has it.
    std::optional<double> frames(int64_t sampleID) const;

    // The five song files exactly as Koala saves them: relative path in the song folder → bytes.
    std::map<std::string, std::string> files() const;
    static const std::array<std::string, 5>& fileNames();

    // An encoder command with its 0-127 value applied to the selected pad or the song: the reverse of
    // the position table Tandem's controller shows. False when `address` is no encoder of Koala's.
    // `startKeepsEnd`: moving START leaves the end where it is (else the sample's length stays).
    bool turn(const std::string& address, int value, bool startKeepsEnd);

private:
    static std::array<Effect, 16> blankEffects();
};

} // namespace tandem
