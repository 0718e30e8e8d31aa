#include "tandem/integration/KoalaSession.h"

#include "base/FileSystem.h"
#include "base/Json.h"
#include "base/Text.h"
#include "tandem/integration/KoalaValues.h"
#include "tandem/profiles/KoalaMap.h"

#include <algorithm>
#include <unordered_map>

namespace tandem {

namespace fs = std::filesystem;
using Json::Value;
using KoalaValues::flag;
using KoalaValues::flagOn;
using KoalaValues::integer;
using KoalaValues::number;
using KoalaValues::text;

namespace {

const Value* at(const Value& object, std::string_view key) {
    return Json::member(object, key);
}

// The array when every element is an object; otherwise nothing (the list counts as missing).
const Value* objects(const Value* value) {
    if (!value || !value->is_array()) return nullptr;
    for (const Value& element : *value) {
        if (!element.is_object()) return nullptr;
    }
    return value;
}

template <class F> void forEachObject(const Value* list, F&& fn) {
    if (const Value* array = objects(list)) {
        for (const Value& element : *array)
            fn(element);
    }
}

const Value* object(const Value* value) {
    return value && value->is_object() ? value : nullptr;
}

std::string lastComponent(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    size_t slash = trimmed.rfind('/');
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

// Removes the extension of the last path component; a leading dot is a name, not an extension.
std::string deletingExtension(const std::string& path) {
    size_t slash = path.rfind('/');
    size_t componentStart = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot <= componentStart) return path;
    return path.substr(0, dot);
}

std::string trimmed(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return "";
    size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

KoalaSession::Pad readPad(const Value& p, const std::unordered_map<int64_t, std::string>& sampleNames,
                          const KoalaSession::FrameLookup& frames) {
    KoalaSession::Pad pad;
    auto synth = text(at(p, "synth"));
    pad.chopper = synth && Text::uppercase(*synth) == "CHOPPER";
    const Value* synthParams = object(at(p, "synthParams"));
    const Value* padParams = pad.chopper && synthParams ? object(at(*synthParams, "padParams")) : nullptr;
    const Value& params = padParams ? *padParams : p;

    pad.sampleID = integer(number(p, "sampleId"));
    pad.loaded = pad.sampleID.has_value() || text(at(p, "type")) == "synth";

    std::string label = trimmed(text(at(params, "label")).value_or(""));
    if (!label.empty()) label = deletingExtension(label);
    if (!label.empty()) {
        pad.label = label;
    } else if (auto found = pad.sampleID ? sampleNames.find(*pad.sampleID) : sampleNames.end();
               found != sampleNames.end()) {
        pad.label = found->second;
    } else if (pad.chopper) {
        pad.label = "CHOPPER";
    } else {
        pad.label = synth.value_or("");
    }

    pad.vol = number(params, "vol").value_or(1.0);
    pad.pan = number(params, "pan").value_or(0.5);
    pad.pitch = number(params, "pitch").value_or(0);
    pad.tone = number(params, "tone").value_or(number(p, "tone").value_or(0));
    pad.attack = number(p, "attack").value_or(0);
    pad.release = number(p, "release").value_or(0);
    pad.start = number(p, "start").value_or(0);
    pad.end = number(p, "end");
    pad.zoomStart = number(p, "zoomStart");
    pad.zoomEnd = number(p, "zoomEnd");
    if (pad.sampleID && frames) pad.frames = frames(*pad.sampleID);

    if (pad.chopper) {
        if (const Value* chops = object(at(p, "chops"))) {
            forEachObject(at(*chops, "slices"), [&](const Value& slice) {
                if (auto start = number(slice, "start")) pad.slices.push_back(*start);
            });
            std::sort(pad.slices.begin(), pad.slices.end());
        }
        const Value empty = Value::object();
        const Value& chopParams = synthParams ? *synthParams : empty;
        pad.nextMode = number(chopParams, "TRIGGER MODE").value_or(0) >= 0.5;
        pad.oneShot = number(chopParams, "ONE SHOT").value_or(1.0) >= 0.5;
    } else {
        pad.oneShot = flagOn(p, "oneshot");
    }

    if (const Value* eq = object(at(params, "eq"))) {
        pad.eqOn = flagOn(*eq, "enabled");
        const char* bands[] = {"lo", "mid", "hi"};
        for (size_t i = 0; i < 3; ++i) {
            const Value* band = object(at(*eq, bands[i]));
            if (!band) continue;
            if (auto value = number(*band, "freq")) pad.eqFreq[i] = *value;
            if (auto value = number(*band, "gain")) pad.eqGain[i] = *value;
            if (auto value = number(*band, "q")) pad.eqQ[i] = *value;
            if (auto type = text(at(*band, "type"))) pad.eqTypes[i] = *type;
        }
    }
    pad.choke = integer(number(p, "chokeGroup").value_or(0)).value_or(0);
    pad.bus = integer(number(params, "bus").value_or(-1)).value_or(-1);
    pad.loop = flagOn(p, "looping");
    pad.reverse = flagOn(p, "reverse");
    pad.muted = flagOn(params, "muted");
    return pad;
}

void readSampler(const Value& sampler, const KoalaSession::FrameLookup& frames, KoalaSession& session) {
    std::unordered_map<int64_t, std::string> sampleNames;
    forEachObject(at(sampler, "samples"), [&](const Value& sample) {
        auto id = integer(number(sample, "id"));
        if (!id) return;
        const Value* metadata = object(at(sample, "metadata"));
        auto path = metadata ? text(at(*metadata, "originalPath")) : std::nullopt;
        if (!path || path->empty()) return;
        sampleNames[*id] = deletingExtension(lastComponent(*path));
    });
    forEachObject(at(sampler, "pads"), [&](const Value& p) {
        auto index = integer(number(p, "pad"));
        if (!index || *index < 0 || *index > 63) return;
        session.pads.insert_or_assign(static_cast<int>(*index), readPad(p, sampleNames, frames));
    });
}

std::vector<KoalaSession::Note> readNotes(const Value* list) {
    std::vector<KoalaSession::Note> notes;
    forEachObject(list, [&](const Value& n) {
        auto pad = integer(number(n, "num"));
        auto offset = number(n, "timeOffset");
        if (!pad || !offset || *pad < 0 || *pad > 63) return;
        KoalaSession::Note note;
        note.pad = *pad;
        note.beat = *offset / 4096;
        auto length = number(n, "length");
        note.length = (length ? std::max(*length, 1.0) : 1024) / 4096;
        note.pitch = number(n, "pitch").value_or(0);
        note.velocity = number(n, "vel").value_or(100);
        if (auto slice = integer(number(n, "subPad")); slice && *slice >= 0) note.slice = slice;
        notes.push_back(note);
    });
    std::stable_sort(notes.begin(), notes.end(),
                     [](const auto& a, const auto& b) { return a.beat < b.beat; });
    return notes;
}

void readSequence(const Value& sequence, KoalaSession& session) {
    session.bpm = number(sequence, "bpm");
    session.swing = number(sequence, "swing").value_or(0);
    session.sequence = integer(number(sequence, "currSequenceId").value_or(0)).value_or(0);
    session.quantizing = flagOn(sequence, "quantizing");
    session.beatsPerBar =
        std::max<int64_t>(1, integer(number(sequence, "beatsPerBar").value_or(4)).value_or(4));
    session.quantizeDivision =
        std::max<int64_t>(1, integer(number(sequence, "quantizeDivision").value_or(16)).value_or(16));
    session.sequenceSnap = text(at(sequence, "seqSnap")).value_or("None");
    const Value empty = Value::object();
    forEachObject(at(sequence, "sequences"), [&](const Value& s) {
        const Value* noteSequence = object(at(s, "noteSequence"));
        const Value* pattern = noteSequence ? object(at(*noteSequence, "pattern")) : nullptr;
        const Value& p = pattern ? *pattern : empty;
        session.bars.push_back(std::max<int64_t>(1, integer(number(p, "numBars").value_or(1)).value_or(1)));
        session.notes.push_back(readNotes(at(p, "notes")));
    });
}

std::vector<std::string> chain(const Value& owner) {
    std::vector<std::string> names;
    forEachObject(at(owner, "chain"), [&](const Value& effect) {
        auto name = text(at(effect, "name"));
        if (!name) return;
        names.push_back(flagOn(effect, "bypass") ? *name + " ·OFF" : *name);
    });
    return names;
}

void readMixer(const Value& mixer, KoalaSession& session) {
    if (const Value* buses = objects(at(mixer, "buses"))) {
        for (size_t i = 0; i < std::min<size_t>(4, buses->size()); ++i) {
            const Value& bus = (*buses)[i];
            session.busVolume[i] = number(bus, "volume").value_or(0);
            session.busMute[i] = flagOn(bus, "mute");
            session.busSolo[i] = flagOn(bus, "solo");
            session.busFX[i] = chain(bus);
        }
    }
    if (const Value* master = object(at(mixer, "master"))) {
        session.mainVolume = number(*master, "volume").value_or(0);
        session.mainMute = flagOn(*master, "mute");
        session.mainFX = chain(*master);
    }
}

void readFX(const Value& fx, KoalaSession& session) {
    session.fxHold = flagOn(fx, "hold");
    const Value* buses = object(at(fx, "buses"));
    if (!buses) return;
    std::vector<const Value*> effects;
    for (const char* key : {"vanilla", "strawberry"}) {
        forEachObject(at(*buses, key), [&](const Value& effect) { effects.push_back(&effect); });
    }
    // Values come from the named effects only, so that each stays beside its name.
    std::vector<std::string> names;
    std::vector<double> values;
    const auto& known = KoalaPushProfile::fxNames();
    for (const Value* effect : effects) {
        auto name = text(at(*effect, "name"));
        if (!name) continue;
        names.push_back(Text::uppercase(*name));
        if (std::find(known.begin(), known.end(), names.back()) == known.end()) return;
        values.push_back(number(*effect, "value").value_or(0));
    }
    if (names.size() != 16) return;
    session.fx = std::move(names);
    session.fxValues = std::move(values);
}

void readSong(const Value& song, KoalaSession& session) {
    session.keyboard = flagOn(song, "keyboardMode");
    session.selectedPad = integer(number(song, "selectedPad"));
    session.name = text(at(song, "name")).value_or("");
    session.scale = text(at(song, "keyboardScale"));
}

std::optional<Value> readObject(const fs::path& path, FileSystem& disk) {
    auto bytes = disk.readFile(path);
    if (!bytes) return std::nullopt;
    Value value = Value::parse(bytes->begin(), bytes->end(), nullptr, false);
    if (!value.is_object()) return std::nullopt; // a parse failure comes back "discarded", not an object
    return value;
}

} // namespace

const std::vector<std::string>& KoalaSession::files() {
    static const std::vector<std::string> names{"sampler/sampler.json", "sequence.json", "mixer.json",
                                                "fx.json", "song.json"};
    return names;
}

std::vector<std::string> KoalaSession::defaultFX() {
    return KoalaPushProfile::fxNames();
}

std::optional<KoalaSession> KoalaSession::readSaved(const fs::path& folder, const FrameLookup& frames,
                                                    const fs::path& settings, FileSystem& disk) {
    std::vector<Value> parsed;
    parsed.reserve(files().size());
    for (const std::string& name : files()) {
        auto value = readObject(folder / name, disk);
        if (!value) return std::nullopt;
        parsed.push_back(std::move(*value));
    }
    KoalaSession session;
    readSampler(parsed[0], frames, session);
    readSequence(parsed[1], session);
    readMixer(parsed[2], session);
    readFX(parsed[3], session);
    readSong(parsed[4], session);
    if (auto defaults = readObject(settings / "defaults.json", disk)) {
        session.countInBars =
            std::max<int64_t>(0, integer(number(*defaults, "countInBars").value_or(0)).value_or(0));
    }
    return session;
}

} // namespace tandem
