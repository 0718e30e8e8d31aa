#include "tandem/profiles/KoalaMap.h"

#include "base/Text.h"
#include "tandem/profiles/KoalaMIDIProfile.h"

#include <algorithm>
#include <unordered_set>

namespace tandem {

namespace fs = std::filesystem;

bool isKoalaRunning(Workspace& workspace) {
    auto running = workspace.runningApplications();
    return std::any_of(running.begin(), running.end(), [](const RunningApplication& application) {
        return application.bundleIdentifier == koalaBundleIdentifier && !application.terminated;
    });
}

namespace KoalaPushProfile {

const std::vector<std::string>& fxNames() {
    static const std::vector<std::string> names{
        "CRUSH",  "PITCH",   "COMB", "RING",        "REVERB",  "STUTTER",     "GATE",  "FILTER",
        "CUTTER", "REVERSE", "DUB",  "TEMPO DELAY", "TALKBOX", "VIBROFLANGE", "DIRTY", "COMPRESSOR"};
    return names;
}

std::string fxAddress(const std::string& name) {
    std::string address = "/perform/fx/" + Text::lowercase(name);
    std::erase(address, ' ');
    return address;
}

std::string sequenceAddress(int index) {
    return "/sequencer/sequences/" + std::to_string(index);
}

std::string padAddress(int index) {
    int bank = std::clamp(index / 16, 0, 3);
    return std::string("/pads/") + char('A' + bank) + std::to_string(index % 16 + 1);
}

const std::vector<std::string>& buttons() {
    static const std::vector<std::string> list = [] {
        std::vector<std::string> addresses{"/sequencer/tapTempo",
                                           "/metro/toggle",
                                           "/undo",
                                           "/sequencer/recordQuantize/toggle",
                                           "/sequencer/bpm/++",
                                           "/sequencer/bpm/--",
                                           "/currSequence/numBars/++",
                                           "/currSequence/numBars/--",
                                           "/currSequence/clear",
                                           "/pianoroll/toggle",
                                           "/load/toggle",
                                           "/settings/toggle",
                                           "/mixer/show",
                                           "/mixer/hide",
                                           "/perform/hold/toggle",
                                           "/mute/toggle",
                                           "/solo/toggle",
                                           "/currPad/sample/oneshot/toggle",
                                           "/currPad/sample/loop/toggle",
                                           "/currPad/sample/reverse/toggle",
                                           "/sample/input/mic",
                                           "/sample/input/resample"};
        for (int bus = 1; bus <= 4; ++bus)
            addresses.push_back("/mixer/channels/" + std::to_string(bus) + "/mute/toggle");
        addresses.push_back("/mixer/channels/main/mute/toggle");
        for (int bus = 1; bus <= 4; ++bus)
            addresses.push_back("/mixer/channels/" + std::to_string(bus) + "/solo/toggle");
        addresses.insert(addresses.end(), {"/sequencer/bpmMenu/toggle", "/sequencer/play/toggle",
                                           "/sequencer/record/toggle", "/keyboard/toggle"});
        for (const std::string& name : fxNames())
            addresses.push_back(fxAddress(name));
        for (int sequence = 0; sequence < 32; ++sequence)
            addresses.push_back(sequenceAddress(sequence));
        addresses.insert(addresses.end(), {"/currPad/delete", "/currSequence/numBars/*2", "/redo", "/edit",
                                           "/escape", "/delete", "/export/toggle", "/midi/velocity/toggle",
                                           "/sample/input/file", "/sample/headphone_monitoring"});
        return addresses;
    }();
    return list;
}

const std::vector<std::string>& knobs() {
    static const std::vector<std::string> list = [] {
        std::vector<std::string> addresses{"/currPad/volume",
                                           "/currPad/pan",
                                           "/currPad/pitch",
                                           "/currPad/sample/tone",
                                           "/currPad/sample/ampEnvelope/attack",
                                           "/currPad/sample/ampEnvelope/release",
                                           "/currPad/sample/start",
                                           "/currPad/sample/length",
                                           "/currPad/eq/band0/freq",
                                           "/currPad/eq/band0/gain",
                                           "/currPad/eq/band1/freq",
                                           "/currPad/eq/band1/gain",
                                           "/currPad/eq/band2/freq",
                                           "/currPad/eq/band2/gain",
                                           "/currPad/sample/chokeGroup",
                                           "/currPad/bus"};
        for (int bus = 1; bus <= 4; ++bus)
            addresses.push_back("/mixer/channels/" + std::to_string(bus) + "/volume");
        addresses.insert(addresses.end(),
                         {"/mixer/channels/main/volume", "/sequencer/swing", "/sequencer/beatsPerBar",
                          "/sequencer/seqSnap", "/keyboard/scale"});
        return addresses;
    }();
    return list;
}

const std::vector<KoalaMapEntry>& defaults() {
    static const std::vector<KoalaMapEntry> list = [] {
        std::vector<KoalaMapEntry> entries;
        const auto& effects = fxNames();
        for (size_t position = 0; position < buttons().size(); ++position) {
            const std::string& address = buttons()[position];
            auto effect = std::find_if(effects.begin(), effects.end(),
                                       [&](const std::string& name) { return fxAddress(name) == address; });
            if (effect != effects.end()) {
                entries.push_back({address, {14, "cc", 23 + (effect - effects.begin())}});
            } else {
                entries.push_back({address, {14, "note", static_cast<int64_t>(position)}});
            }
        }
        for (size_t position = 0; position < knobs().size(); ++position) {
            int64_t controller = static_cast<int64_t>(position) + (position < 22 ? 1 : 18);
            entries.push_back({knobs()[position], {14, "cc", controller}});
        }
        return entries;
    }();
    return list;
}

const std::vector<KoalaMapEntry>& canonicalMap() {
    static const std::vector<KoalaMapEntry> list = [] {
        std::vector<KoalaMapEntry> entries = KoalaMIDIProfile::entries();
        std::unordered_set<std::string> addresses;
        std::unordered_set<KoalaKey, KoalaKeyHash> keys;
        for (const auto& [address, key] : entries) {
            addresses.insert(address);
            keys.insert(key);
        }
        for (const auto& entry : defaults()) {
            if (addresses.count(entry.first) || keys.count(entry.second)) continue;
            addresses.insert(entry.first);
            keys.insert(entry.second);
            entries.push_back(entry);
        }
        return entries;
    }();
    return list;
}

std::optional<KoalaKey> key(const Json::Value& entry) {
    const Json::Value* object = Json::member(entry, "key");
    if (!object) return std::nullopt;
    auto channel = Json::integer(*object, "channel");
    auto type = Json::string(*object, "type");
    auto value = Json::integer(*object, "value");
    if (!channel || !type || !value) return std::nullopt;
    return KoalaKey{*channel, *type, *value};
}

std::optional<KoalaKey> looseKey(const Json::Value& entry) {
    const Json::Value* object = Json::member(entry, "key");
    if (!object) return std::nullopt;
    auto channel = Json::wholeNumber(Json::member(*object, "channel"));
    auto type = Json::string(*object, "type");
    auto value = Json::wholeNumber(Json::member(*object, "value"));
    if (!channel || !type || !value) return std::nullopt;
    return KoalaKey{*channel, *type, *value};
}

KoalaKeyMap mapping(const fs::path& file) {
    KoalaKeyMap map;
    auto root = Json::readFile(file);
    if (!root || !root->is_object()) return map;
    const Json::Value* mappings = Json::member(*root, "mappings");
    if (!mappings || !mappings->is_array()) return map;
    for (const Json::Value& entry : *mappings) {
        auto address = Json::string(entry, "address");
        auto found = key(entry);
        if (address && found) map.insert_or_assign(*address, *found);
    }
    return map;
}

KoalaKeyMap currentKeys(const fs::path& koalaSampler) {
    KoalaKeyMap keys = mapping(koalaSampler / "settings" / "midiMapping.json");
    for (auto& [address, key] : mapping(koalaSampler / "default" / "midiMapping.json"))
        keys.insert_or_assign(address, key);
    return keys;
}

Result<MapFile> parseMapFile(SafeFile::Snapshot read, const Error& notAnObject) {
    MapFile map{std::move(read), Json::Value{{"type", "midiMap"}, {"mappings", Json::Value::array()}}};
    if (!map.read.existed()) return map;
    auto parsed = Json::parse(*map.read.bytes);
    if (!parsed) return parsed.error();
    if (!parsed->is_object() || Json::nestedDeeperThan(*parsed)) return notAnObject;
    map.object = std::move(parsed).value();
    return map;
}

Result<MapFile> readMapFile(const fs::path& file, const Error& notAnObject, FileSystem& disk) {
    auto read = SafeFile::capture(file, disk);
    if (!read) return read.error();
    return parseMapFile(std::move(read).value(), notAnObject);
}

KeyboardSettings keyboardSettings(const fs::path& settings) {
    KeyboardSettings result;
    auto root = Json::readFile(settings / "defaults.json");
    if (!root || !root->is_object()) return result;
    result.channel = Json::integer(*root, "keyboardMidiChannel").value_or(16);
    result.offset = Json::integer(*root, "midiNoteOffset").value_or(36);
    result.padChannel = Json::integer(*root, "midiInputChannel").value_or(16);
    return result;
}

bool canSelectPads(const fs::path& settings) {
    auto root = Json::readFile(settings / "defaults.json");
    if (!root) return true;
    return Json::boolean(*root, "midiCanSelectNotes").value_or(true);
}

} // namespace KoalaPushProfile

} // namespace tandem
