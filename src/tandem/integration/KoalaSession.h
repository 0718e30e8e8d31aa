#pragma once

#include "base/FileSystem.h"
#include "base/Paths.h"

#include <array>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tandem {

// Tandem's read-only picture of the song Koala last saved: read whole, or not at all.
struct KoalaSession {
    struct Pad {
        std::string label;
        bool loaded = false;
        bool chopper = false;
        double vol = 1.0;
        double pan = 0.5;
        double pitch = 0;
        double tone = 0;
        double attack = 0;
        double release = 0;
        double start = 0;
        std::optional<double> end;
        std::optional<double> frames;
        std::array<double, 3> eqFreq{100, 1000, 8000};
        std::array<double, 3> eqGain{0, 0, 0};
        int64_t choke = 0;
        int64_t bus = -1;
        bool oneShot = false;
        bool loop = false;
        bool reverse = false;
        bool muted = false;
        std::optional<int64_t> sampleID;
        std::optional<double> zoomStart;
        std::optional<double> zoomEnd;
        std::vector<double> slices;
        bool nextMode = false;
        std::array<std::string, 3> eqTypes{"lowshelf", "peaking", "highshelf"};
        std::array<double, 3> eqQ{1, 1, 1};
        bool eqOn = false;

        bool operator==(const Pad&) const = default;
    };

    struct Note {
        int64_t pad = 0;
        double beat = 0;
        double length = 0;
        double pitch = 0;
        double velocity = 0;
        std::optional<int64_t> slice;

        bool operator==(const Note&) const = default;
    };

    // A sample id → that sample's length in frames, when known.
    using FrameLookup = std::function<std::optional<double>(int64_t sampleID)>;

    std::map<int, Pad> pads;
    std::optional<double> bpm;
    double swing = 0;
    int64_t sequence = 0;
    std::vector<int64_t> bars;
    bool quantizing = false;
    std::vector<std::vector<Note>> notes;
    int64_t beatsPerBar = 4;
    int64_t quantizeDivision = 16;
    std::string sequenceSnap = "None";
    int64_t countInBars = 0;
    std::array<double, 4> busVolume{0, 0, 0, 0};
    double mainVolume = 0;
    std::array<bool, 4> busMute{false, false, false, false};
    std::array<bool, 4> busSolo{false, false, false, false};
    bool mainMute = false;
    std::array<std::vector<std::string>, 4> busFX;
    std::vector<std::string> mainFX;
    std::vector<std::string> fx = defaultFX();
    bool fxHold = false;
    std::vector<double> fxValues = std::vector<double>(16, 0.0);
    bool keyboard = false;
    std::optional<int64_t> selectedPad;
    std::string name;
    std::optional<std::string> scale;

    bool operator==(const KoalaSession&) const = default;

    // The five song files, relative to the song folder, in reading order.
    static const std::vector<std::string>& files();

    // Reads the song in `folder` (Koala's "default" folder) and the count-in from Koala's settings
    // folder. Nothing when any of the five song files is missing, unreadable, not JSON or not an
    // object at the top; every value inside may be missing or mistyped and then keeps its default.
    static std::optional<KoalaSession>
    readSaved(const std::filesystem::path& folder, const FrameLookup& frames = {},
              const std::filesystem::path& settings = Paths::koalaSettings(), FileSystem& disk = FileSystem::local());

private:
    static std::vector<std::string> defaultFX();
};

} // namespace tandem
