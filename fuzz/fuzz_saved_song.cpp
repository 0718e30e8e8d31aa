// Koala's saved song, read from files anyone may have edited: the reader takes the song whole or not
// at all, and what it gives back is always in range and finite.
//
// Input: up to six sections separated by 0xFF: sampler/sampler.json, sequence.json, mixer.json, fx.json,
// song.json and the settings' defaults.json. A section that is not there is a missing file. "0xFE n"
// repeats the byte before it 64 × n times (deep nesting, long lists).
#include "FuzzSupport.h"

#include "tandem/integration/KoalaSession.h"

#include <nlohmann/json.hpp>

#include <cmath>

namespace {

namespace fs = std::filesystem;
using tandem::KoalaSession;

const char* const songFiles[] = {"sampler/sampler.json", "sequence.json", "mixer.json", "fx.json",
                                 "song.json"};

struct Folders {
    fs::path song, settings;
};

const Folders& folders() {
    static const Folders made = [] {
        const fs::path& scratch = fuzz::scratchFolder("tandem-fuzz-song-");
        Folders f{scratch / "default", scratch / "settings"};
        fs::create_directories(f.song / "sampler");
        fs::create_directories(f.settings);
        fs::create_directories(scratch / "home");
        setenv("HOME", (scratch / "home").c_str(), 1);
        return f;
    }();
    return made;
}

bool finite(double value) {
    return std::isfinite(value);
}
bool finite(const std::optional<double>& value) {
    return !value || std::isfinite(*value);
}
template <class List> bool allFinite(const List& values) {
    for (double value : values)
        if (!std::isfinite(value)) return false;
    return true;
}

void checkSession(const KoalaSession& session, bool hasDefaults) {
    for (const auto& [index, pad] : session.pads) {
        FUZZ_CHECK(index >= 0 && index <= 63, "pad indices are 0-63");
        FUZZ_CHECK(finite(pad.vol) && finite(pad.pan) && finite(pad.pitch) && finite(pad.tone) &&
                       finite(pad.attack) && finite(pad.release) && finite(pad.start) && finite(pad.end) &&
                       finite(pad.frames) && finite(pad.zoomStart) && finite(pad.zoomEnd),
                   "a pad's numbers are finite");
        FUZZ_CHECK(allFinite(pad.eqFreq) && allFinite(pad.eqGain) && allFinite(pad.eqQ) &&
                       allFinite(pad.slices),
                   "a pad's equaliser and slices are finite");
    }
    FUZZ_CHECK(finite(session.bpm) && finite(session.swing) && finite(session.mainVolume) &&
                   allFinite(session.busVolume) && allFinite(session.fxValues),
               "the song's numbers are finite");
    FUZZ_CHECK(session.bars.size() == session.notes.size(), "one bar count per sequence");
    for (const auto& notes : session.notes) {
        for (const KoalaSession::Note& note : notes) {
            FUZZ_CHECK(note.pad >= 0 && note.pad <= 63, "a note's pad is 0-63");
            FUZZ_CHECK(finite(note.beat) && finite(note.length) && finite(note.pitch) &&
                           finite(note.velocity),
                       "a note's numbers are finite");
        }
    }
    FUZZ_CHECK(session.fx.size() == 16, "there are sixteen effects");
    FUZZ_CHECK(session.fxValues.size() == 16, "there are sixteen effect values");
    FUZZ_CHECK(session.beatsPerBar >= 1, "a bar has a beat at least");
    FUZZ_CHECK(session.quantizeDivision >= 1, "the quantize division is at least 1");
    FUZZ_CHECK(session.countInBars >= 0, "the count-in is never negative");
    FUZZ_CHECK(hasDefaults || session.countInBars == 0, "without Koala's settings there is no count-in");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Folders& where = folders();
    std::vector<std::string> sections = fuzz::splitSections({data, size}, 6);
    for (std::string& section : sections)
        section = fuzz::expandRepeats(section);

    // The reader's promise, judged by parsing each file here: a result exactly when all five files
    // exist and each holds a JSON object.
    bool whole = sections.size() >= 5;
    std::optional<nlohmann::json> sequence, song;
    for (size_t i = 0; i < 5; ++i) {
        const fs::path path = where.song / songFiles[i];
        if (i < sections.size()) {
            fuzz::writeFile(path, sections[i]);
            nlohmann::json parsed = nlohmann::json::parse(sections[i], nullptr, false);
            whole = whole && parsed.is_object();
            if (i == 1 && parsed.is_object()) sequence = std::move(parsed);
            if (i == 4 && parsed.is_object()) song = std::move(parsed);
        } else {
            fs::remove(path);
        }
    }
    const bool hasDefaults = sections.size() >= 6;
    if (hasDefaults) {
        fuzz::writeFile(where.settings / "defaults.json", sections[5]);
    } else {
        fs::remove(where.settings / "defaults.json");
    }

    auto frames = [](int64_t id) -> std::optional<double> {
        if (id % 3 == 0) return std::nullopt;
        return double(id) * 0.5;
    };
    const auto first = KoalaSession::readSaved(where.song, frames, where.settings);
    FUZZ_CHECK(first.has_value() == whole,
               "the song is read exactly when all five files are there and hold JSON objects");
    if (!first) return 0;
    checkSession(*first, hasDefaults);

    // Two values the reader takes straight from the files when they are plain JSON.
    if (const auto found = sequence->find("bpm"); found != sequence->end() && found->is_number()) {
        FUZZ_CHECK(first->bpm == found->get<double>(), "a numeric bpm is read as it is");
    }
    if (const auto found = song->find("name"); found != song->end() && found->is_string()) {
        FUZZ_CHECK(first->name == found->get<std::string>(), "a song's name is read as it is");
    } else if (song->find("name") == song->end()) {
        FUZZ_CHECK(first->name.empty(), "a song without a name has an empty one");
    }

    const auto second = KoalaSession::readSaved(where.song, frames, where.settings);
    FUZZ_CHECK(second && *second == *first, "reading the same files twice gives the same song");
    return 0;
}
