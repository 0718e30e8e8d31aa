#include "platform/sim/SimKoalaSong.h"

#include "base/Json.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace tandem {

namespace {

using json = nlohmann::json;

constexpr double ticksPerBeat = 4096; // Koala's note positions and lengths

// How an encoder's 0-127 value becomes the song's value. Tandem's controller shows the same table
// the other way round, so this is the one place that knows it.
enum class Scale { level, pan, semitones, decibels, bipolar, hertz, steps, trimStart, trimLength };

using Song = SimKoalaSong;
// Sets the song's value: `x` is the converted value (a step's index for stepped knobs), `label` the
// step's label.
using Apply = void (*)(Song& song, Song::Pad& pad, double x, const std::string& label);

struct Knob {
    const char* address;
    Scale scale;
    Apply apply;                         // nothing for the trims, which need the sample's length
    double range = 0;                    // semitones or decibels either side of the centre
    std::vector<std::string> steps = {}; // labels of a stepped knob
};

const std::vector<std::string> chokeSteps{"OFF", "1", "2", "3", "4", "5", "6"};
const std::vector<std::string> busSteps{"OFF", "A", "B", "C", "D"};
const std::vector<std::string> beatSteps{"1", "2",  "3",  "4",  "5",  "6",  "7",  "8",
                                         "9", "10", "11", "12", "13", "14", "15", "16"};
const std::vector<std::string> snapSteps{"1", "2", "3", "4"};
const std::vector<std::string> scaleSteps{"CHROMATIC",  "PENTATONIC", "MAJOR",      "MINOR",
                                          "HARM MINOR", "WHOLE TONE", "DIMINISHED", "HEXATONIC",
                                          "JAPANESE",   "PELOG",      "YING ZHONG"};

template <size_t Bus> void busVolume(Song& song, Song::Pad&, double x, const std::string&) {
    song.buses[Bus].volume = x;
}
template <size_t Band> void eqFreq(Song&, Song::Pad& pad, double x, const std::string&) {
    pad.eq[Band].freq = x;
}
template <size_t Band> void eqGain(Song&, Song::Pad& pad, double x, const std::string&) {
    pad.eq[Band].gain = x;
}

const std::vector<Knob>& knobs() {
    static const std::vector<Knob> table{
        {"/currPad/volume", Scale::level,
         [](Song&, Song::Pad& pad, double x, const std::string&) { pad.vol = x; }},
        {"/currPad/pan", Scale::pan,
         [](Song&, Song::Pad& pad, double x, const std::string&) { pad.pan = x; }},
        {"/currPad/pitch", Scale::semitones,
         [](Song&, Song::Pad& pad, double x, const std::string&) { pad.pitch = x; }, 24},
        {"/currPad/sample/tone", Scale::bipolar,
         [](Song&, Song::Pad& pad, double x, const std::string&) { pad.tone = x; }},
        {"/currPad/sample/ampEnvelope/attack", Scale::level,
         [](Song&, Song::Pad& pad, double x, const std::string&) { pad.attack = x; }},
        {"/currPad/sample/ampEnvelope/release", Scale::level,
         [](Song&, Song::Pad& pad, double x, const std::string&) { pad.release = x; }},
        {"/currPad/sample/start", Scale::trimStart, nullptr},
        {"/currPad/sample/length", Scale::trimLength, nullptr},
        {"/currPad/eq/band0/freq", Scale::hertz, eqFreq<0>},
        {"/currPad/eq/band0/gain", Scale::decibels, eqGain<0>, 18},
        {"/currPad/eq/band1/freq", Scale::hertz, eqFreq<1>},
        {"/currPad/eq/band1/gain", Scale::decibels, eqGain<1>, 18},
        {"/currPad/eq/band2/freq", Scale::hertz, eqFreq<2>},
        {"/currPad/eq/band2/gain", Scale::decibels, eqGain<2>, 18},
        {"/currPad/sample/chokeGroup", Scale::steps,
         [](Song&, Song::Pad& pad, double x, const std::string&) { pad.choke = int64_t(x); }, 0, chokeSteps},
        {"/currPad/bus", Scale::steps,
         [](Song&, Song::Pad& pad, double x, const std::string&) { pad.bus = int64_t(x) - 1; }, 0, busSteps},
        {"/mixer/channels/1/volume", Scale::level, busVolume<0>},
        {"/mixer/channels/2/volume", Scale::level, busVolume<1>},
        {"/mixer/channels/3/volume", Scale::level, busVolume<2>},
        {"/mixer/channels/4/volume", Scale::level, busVolume<3>},
        {"/mixer/channels/main/volume", Scale::level,
         [](Song& song, Song::Pad&, double x, const std::string&) { song.master.volume = x; }},
        {"/sequencer/swing", Scale::level,
         [](Song& song, Song::Pad&, double x, const std::string&) { song.swing = x; }},
        {"/sequencer/beatsPerBar", Scale::steps,
         [](Song& song, Song::Pad&, double x, const std::string&) { song.beatsPerBar = int64_t(x) + 1; }, 0,
         beatSteps},
        {"/sequencer/seqSnap", Scale::steps,
         [](Song& song, Song::Pad&, double, const std::string& label) { song.seqSnap = label; }, 0,
         snapSteps},
        {"/keyboard/scale", Scale::steps,
         [](Song& song, Song::Pad&, double, const std::string& label) { song.keyboardScale = label; }, 0,
         scaleSteps},
    };
    return table;
}

size_t stepIndex(size_t count, int value) {
    return std::min(count - 1, size_t(std::floor(double(count) * value / 128.0)));
}

double convert(const Knob& knob, int v) {
    switch (knob.scale) {
    case Scale::level:
    case Scale::pan:
    case Scale::trimStart:
    case Scale::trimLength:
        return v / 127.0;
    case Scale::semitones:
    case Scale::decibels:
        return (v - 63.5) / 63.5 * knob.range;
    case Scale::bipolar:
        return (v - 63.5) / 63.5;
    case Scale::hertz:
        return 20.0 * std::pow(1000.0, v / 127.0);
    case Scale::steps:
        return double(stepIndex(knob.steps.size(), v));
    }
    return 0;
}

json eqJson(const SimKoalaSong::Pad& pad) {
    static const char* bandKeys[] = {"lo", "mid", "hi"};
    json eq{{"enabled", pad.eqOn}};
    for (size_t i = 0; i < 3; ++i) {
        const auto& band = pad.eq[i];
        eq[bandKeys[i]] = {{"freq", band.freq}, {"gain", band.gain}, {"q", band.q}, {"type", band.type}};
    }
    return eq;
}

json padJson(int index, const SimKoalaSong::Pad& pad) {
    json entry{{"pad", index}};
    if (pad.sampleID) entry["sampleId"] = *pad.sampleID;
    // What the chopper's own page shows lives in its synth's parameters; the rest on the pad.
    json params{{"label", pad.label}, {"vol", pad.vol},    {"pan", pad.pan}, {"pitch", pad.pitch},
                {"tone", pad.tone},   {"eq", eqJson(pad)}, {"bus", pad.bus}, {"muted", pad.muted}};
    entry["attack"] = pad.attack;
    entry["release"] = pad.release;
    entry["start"] = pad.start;
    if (pad.end) entry["end"] = *pad.end;
    entry["chokeGroup"] = pad.choke;
    entry["looping"] = pad.loop;
    entry["reverse"] = pad.reverse;
    if (pad.chopper) {
        entry["type"] = "synth";
        entry["synth"] = "CHOPPER";
        entry["synthParams"] = {{"TRIGGER MODE", pad.nextMode ? 1.0 : 0.0},
                                {"ONE SHOT", pad.oneShot ? 1.0 : 0.0},
                                {"padParams", params}};
        json slices = json::array();
        for (double start : pad.slices)
            slices.push_back({{"start", start}});
        entry["chops"] = {{"slices", slices}};
    } else {
        entry["type"] = pad.sampleID ? "sample" : "empty";
        entry["oneshot"] = pad.oneShot;
        entry.update(params);
    }
    return entry;
}

json chainJson(const SimKoalaSong::Bus& bus) {
    json chain = json::array();
    for (const auto& effect : bus.chain)
        chain.push_back({{"name", effect.name}, {"bypass", effect.bypass}});
    return chain;
}

std::string text(const json& value) {
    auto serialized = Json::serialize(value);
    return serialized ? *serialized : std::string("{}\n");
}

} // namespace

const std::array<std::string, 16>& SimKoalaSong::effectNames() {
    static const std::array<std::string, 16> names{
        "CRUSH",  "PITCH",   "COMB", "RING",        "REVERB",  "STUTTER",     "GATE",  "FILTER",
        "CUTTER", "REVERSE", "DUB",  "TEMPO DELAY", "TALKBOX", "VIBROFLANGE", "DIRTY", "COMPRESSOR"};
    return names;
}

std::string SimKoalaSong::effectAddress(const std::string& name) {
    std::string address = "/perform/fx/";
    for (char c : name) {
        if (c != ' ') address += char(std::tolower(static_cast<unsigned char>(c)));
    }
    return address;
}

std::array<SimKoalaSong::Effect, 16> SimKoalaSong::blankEffects() {
    std::array<Effect, 16> effects;
    for (size_t i = 0; i < effects.size(); ++i)
        effects[i].name = effectNames()[i];
    return effects;
}

SimKoalaSong SimKoalaSong::standard() {
    SimKoalaSong song;
    song.name = "Sim Song";
    const char* names[] = {"Kick 808", "Snare Tight", "Hat Closed", "Hat Open",  "Clap",     "Rim",
                           "Tom Low",  "Tom High",    "Crash",      "Bass Stab", "Vox Chop", "Pad Swell"};
    for (int i = 0; i < 12; ++i) {
        const int64_t id = i + 1;
        const double frames = 44100.0 * (i % 10 + 1);
        song.samples.push_back({id, "/Users/koala/Music/Samples/" + std::string(names[i]) + ".wav", frames});
        Pad& pad = song.pads[size_t(i)];
        pad.sampleID = id;
        pad.end = frames;
        pad.oneShot = i < 9; // drums play through, the tonal ones follow the finger
    }
    song.pads[3].label = "Open Hat"; // renamed in Koala
    song.pads[0].bus = 0;
    song.pads[1].bus = 0;

    const int64_t breakID = 13;
    const double breakFrames = 441000;
    song.samples.push_back({breakID, "/Users/koala/Music/Samples/Amen Break.wav", breakFrames});
    Pad& chopper = song.pads[12];
    chopper.sampleID = breakID;
    chopper.chopper = true;
    chopper.label = "Break";
    chopper.end = breakFrames;
    chopper.oneShot = true;
    for (int i = 0; i < 10; ++i)
        chopper.slices.push_back(breakFrames * i / 10);

    // Four on the floor with a snare on two and four and a chop in between, in the first of four bars.
    const std::optional<int64_t> plain;
    song.sequences[0].bars = 4;
    song.sequences[0].notes = {{0, 0, 0.25, 0, 110, plain}, {0, 1, 0.25, 0, 110, plain},
                               {1, 1, 0.25, 0, 100, plain}, {0, 2, 0.25, 0, 110, plain},
                               {12, 2.5, 0.5, 0, 90, 3},    {0, 3, 0.25, 0, 110, plain},
                               {1, 3, 0.25, 0, 100, plain}};

    song.buses[0].chain = {{"REVERB", false}, {"CRUSH", true}};
    song.master.volume = 1.0;
    song.master.chain = {{"COMPRESSOR", false}};
    for (size_t i = 0; i < song.effects.size(); ++i)
        song.effects[i].value = 0.5;
    return song;
}

std::optional<double> SimKoalaSong::frames(int64_t sampleID) const {
    for (auto it = samples.rbegin(); it != samples.rend(); ++it) {
        if (it->id == sampleID) return it->frames;
    }
    return std::nullopt;
}

const std::array<std::string, 5>& SimKoalaSong::fileNames() {
    static const std::array<std::string, 5> names{"sampler/sampler.json", "sequence.json", "mixer.json",
                                                  "fx.json", "song.json"};
    return names;
}

std::map<std::string, std::string> SimKoalaSong::files() const {
    std::map<std::string, std::string> out;

    json sampleList = json::array();
    for (const Sample& sample : samples)
        sampleList.push_back({{"id", sample.id}, {"metadata", {{"originalPath", sample.path}}}});
    json padList = json::array();
    for (size_t i = 0; i < pads.size(); ++i)
        padList.push_back(padJson(int(i), pads[i]));
    out["sampler/sampler.json"] = text({{"samples", sampleList}, {"pads", padList}});

    json sequenceList = json::array();
    for (const Sequence& sequence : sequences) {
        json notes = json::array();
        for (const Note& note : sequence.notes) {
            notes.push_back({{"num", note.pad},
                             {"timeOffset", note.beat * ticksPerBeat},
                             {"length", note.length * ticksPerBeat},
                             {"pitch", note.pitch},
                             {"vel", note.velocity},
                             {"subPad", note.slice ? *note.slice : -1}});
        }
        sequenceList.push_back(
            {{"noteSequence", {{"pattern", {{"numBars", sequence.bars}, {"notes", notes}}}}}});
    }
    json sequenceFile{{"swing", swing},
                      {"currSequenceId", currentSequence},
                      {"quantizing", quantizing},
                      {"beatsPerBar", beatsPerBar},
                      {"quantizeDivision", quantizeDivision},
                      {"seqSnap", seqSnap},
                      {"sequences", sequenceList}};
    if (bpm) sequenceFile["bpm"] = *bpm;
    out["sequence.json"] = text(sequenceFile);

    json busList = json::array();
    for (const Bus& bus : buses)
        busList.push_back(
            {{"volume", bus.volume}, {"mute", bus.mute}, {"solo", bus.solo}, {"chain", chainJson(bus)}});
    out["mixer.json"] =
        text({{"buses", busList},
              {"master", {{"volume", master.volume}, {"mute", master.mute}, {"chain", chainJson(master)}}}});

    json vanilla = json::array(), strawberry = json::array();
    for (size_t i = 0; i < effects.size(); ++i)
        (i < 8 ? vanilla : strawberry).push_back({{"name", effects[i].name}, {"value", effects[i].value}});
    out["fx.json"] = text({{"hold", fxHold}, {"buses", {{"vanilla", vanilla}, {"strawberry", strawberry}}}});

    out["song.json"] = text({{"keyboardMode", keyboardMode},
                             {"selectedPad", selectedPad},
                             {"name", name},
                             {"keyboardScale", keyboardScale}});
    return out;
}

bool SimKoalaSong::turn(const std::string& address, int value, bool startKeepsEnd) {
    const auto& table = knobs();
    auto found =
        std::find_if(table.begin(), table.end(), [&](const Knob& knob) { return address == knob.address; });
    if (found == table.end()) return false;
    const Knob& knob = *found;
    const int v = std::clamp(value, 0, 127);
    const double x = convert(knob, v);
    Pad& pad = pads[size_t(std::clamp<int64_t>(selectedPad, 0, 63))];

    if (knob.scale == Scale::trimStart || knob.scale == Scale::trimLength) {
        // Only a sample has something to trim.
        const auto length = pad.sampleID ? frames(*pad.sampleID) : std::nullopt;
        if (!length) return true;
        const double total = *length;
        const double oldEnd = pad.end.value_or(total);
        if (knob.scale == Scale::trimStart) {
            const double oldLength = oldEnd - pad.start;
            pad.start = x * total;
            pad.end = startKeepsEnd ? std::max(oldEnd, pad.start) : std::min(total, pad.start + oldLength);
        } else {
            pad.end = std::min(total, pad.start + x * total);
        }
        return true;
    }

    const std::string label = knob.scale == Scale::steps ? knob.steps[size_t(x)] : std::string();
    knob.apply(*this, pad, x, label);
    return true;
}

} // namespace tandem
