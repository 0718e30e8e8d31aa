#include "tandem/profiles/KoalaPushProfile.h"

#include "base/ActivityLog.h"
#include "base/SafeFile.h"
#include "base/ScratchFolder.h"
#include "tandem/profiles/KoalaMIDIProfile.h"

#include <algorithm>
#include <unordered_map>

namespace tandem::KoalaPushProfile {

namespace fs = std::filesystem;

namespace {

constexpr const char* mapUnreadable = "Koala's MIDI mapping format could not be read; no mapping changed.";
constexpr const char* mapRefusedWhileRunning = "Save and quit Koala before Tandem checks its MIDI map.";
constexpr const char* mapChangedMeanwhile =
    "Koala or its MIDI map changed meanwhile; quit Koala and try again.";
constexpr const char* settingsRefusedWhileRunning =
    "Save and quit Koala before Tandem sets its MIDI settings.";
constexpr const char* settingsChangedMeanwhile =
    "Koala or its settings changed meanwhile; quit Koala and try again.";
constexpr const char* pushNotPrepared = "Koala's Push settings could not be prepared. Open Koala once to "
                                        "create its settings, then quit and choose Push again.";

Error failure(const std::string& message) {
    return Error{errorDomain, 1, message};
}

fs::path backupsFolder(const fs::path& settings) {
    return settings.parent_path() / "Tandem backups";
}

// Same kind and same value: 16 and 16.0, or true and 1, are different settings to Koala.
bool sameSetting(const Json::Value* stored, const Json::Value& wanted) {
    if (!stored) return false;
    if (wanted.is_boolean()) return stored->is_boolean() && *stored == wanted;
    if (wanted.is_number_integer()) return stored->is_number_integer() && *stored == wanted;
    return *stored == wanted;
}

std::string plainValue(const Json::Value& value) {
    return value.is_string() ? value.get<std::string>() : value.dump();
}

std::optional<std::string> entryAddress(const Json::Value& entry) {
    return Json::string(entry, "address");
}

} // namespace

std::vector<Setting> requiredSettings(Mode mode) {
    bool push = mode == Mode::push2;
    return {
        {"useMidiMapping", true},
        {"midiInputChannel", 16},
        {"keyboardMidiChannel", push ? 13 : 16},
        {"midiNoteOffset", 36},
        {"midiCanSelectNotes", push},
        {"keyboardMidiSnapToScale", false},
        {"builtInMidiMappingsEnabled", false},
        {"enableMidiVelocity", true},
        {"keyboardVelocityEnabled", true},
    };
}

Result<std::vector<std::string>> repairMap(const fs::path& settings, const std::function<bool()>& isRunning,
                                           FileSystem& disk) {
    const fs::path mapPath = settings / "midiMapping.json";
    auto mapFile = readMapFile(mapPath, failure(mapUnreadable), disk);
    if (!mapFile) return mapFile.error();
    const SafeFile::Snapshot& read = mapFile->read;
    Json::Value& map = mapFile->object;
    if (isRunning()) return failure(mapRefusedWhileRunning);

    // Elements that are not objects match no address and no key, so they are carried through as
    // they are rather than costing the user every learned mapping.
    std::vector<Json::Value> mappings;
    if (const Json::Value* list = Json::member(map, "mappings"); list && list->is_array()) {
        mappings.assign(list->begin(), list->end());
    }

    std::vector<std::string> changed;
    for (const auto& [address, key] : canonicalMap()) {
        size_t sameAddress = 0;
        bool rightKey = false, keyElsewhere = false;
        // A key written as 36.0 still plays as 36 in Koala, so it still takes the canonical key;
        // the canonical entry itself is rewritten in plain integers.
        for (const Json::Value& entry : mappings) {
            if (entryAddress(entry) == address) {
                ++sameAddress;
                rightKey = KoalaPushProfile::key(entry) == key;
            } else if (looseKey(entry) == key) {
                keyElsewhere = true;
            }
        }
        if (sameAddress == 1 && rightKey && !keyElsewhere) continue;
        std::erase_if(mappings, [&, &address = address, &key = key](const Json::Value& entry) {
            return entryAddress(entry) == address || looseKey(entry) == key;
        });
        mappings.push_back(KoalaMIDIProfile::entry(address, key.channel, key.type, key.value));
        changed.push_back(address);
    }
    if (changed.empty()) return changed;

    map["mappings"] = Json::Value(mappings);
    auto text = Json::serialize(map);
    if (!text) return text.error();
    if (auto backup = SafeFile::backup(backupsFolder(settings), "repair-", {&read}, disk); !backup) {
        return backup.error();
    }
    if (isRunning() || !read.unchanged(disk)) return failure(mapChangedMeanwhile);
    // Before Koala's first run there is no settings folder yet; the map is what it will find there.
    if (auto made = disk.createDirectories(settings); !made) return made.error();
    if (auto written = SafeFile::atomicWrite(mapPath, *text, disk); !written) return written.error();
    return changed;
}

Result<std::optional<std::vector<std::string>>> enforceSettings(const fs::path& settings,
                                                                const std::function<bool()>& isRunning,
                                                                Mode mode, FileSystem& disk) {
    const fs::path defaultsPath = settings / "defaults.json";
    auto bytes = disk.readFile(defaultsPath);
    if (!bytes) return std::optional<std::vector<std::string>>();
    SafeFile::Snapshot read{defaultsPath, std::move(bytes).value()};
    auto parsed = Json::parse(*read.bytes);
    if (!parsed) return parsed.error();
    // Too deep to handle counts as unreadable: nothing to enforce, nothing written.
    if (!parsed->is_object() || Json::nestedDeeperThan(*parsed))
        return std::optional<std::vector<std::string>>();
    if (isRunning()) return failure(settingsRefusedWhileRunning);

    Json::Value& object = *parsed;
    std::vector<std::string> changes;
    for (const Setting& setting : requiredSettings(mode)) {
        if (sameSetting(Json::member(object, setting.key), setting.value)) continue;
        object[setting.key] = setting.value;
        changes.push_back(setting.key + " = " + plainValue(setting.value));
    }
    if (changes.empty()) return std::optional(changes);

    auto text = Json::serialize(object);
    if (!text) return text.error();
    if (auto backup = SafeFile::backup(backupsFolder(settings), "settings-", {&read}, disk); !backup) {
        return backup.error();
    }
    if (isRunning() || !read.unchanged(disk)) return failure(settingsChangedMeanwhile);
    if (auto written = SafeFile::atomicWrite(defaultsPath, *text, disk); !written) return written.error();
    return std::optional(changes);
}

std::optional<std::string> pushInputConflict(const fs::path& koalaSampler) {
    for (const auto& [address, key] : currentKeys(koalaSampler)) {
        if (key.channel == 1 && (key.type == "note" || key.type == "cc")) {
            return "Koala maps " + address +
                   " to raw Push channel 1. Reassign that learned mapping before starting Push to avoid "
                   "duplicate actions.";
        }
        if (key.channel == 13 && key.type == "note") {
            return "Koala maps " + address + " to keyboard channel " + "13" +
                   ". Reassign that learned mapping before starting Push to keep Chopper notes separate.";
        }
    }
    return std::nullopt;
}

bool settingsMatch(Mode mode, const fs::path& koalaSampler) {
    KoalaKeyMap keys = currentKeys(koalaSampler);
    for (const auto& [address, key] : canonicalMap()) {
        auto found = keys.find(address);
        if (found == keys.end() || found->second != key) return false;
    }
    if (mode == Mode::push2 && pushInputConflict(koalaSampler)) return false;
    auto settings = Json::readFile(koalaSampler / "settings" / "defaults.json");
    if (!settings || !settings->is_object()) return false;
    for (const Setting& setting : requiredSettings(mode)) {
        if (!sameSetting(Json::member(*settings, setting.key), setting.value)) return false;
    }
    return true;
}

Result<void> prepare(Mode mode, Workspace& workspace) {
    const fs::path settings = Paths::koalaSettings();
    auto isRunning = [&] { return isKoalaRunning(workspace); };

    auto changed = repairMap(settings, isRunning);
    if (!changed) return changed.error();
    if (!changed->empty()) {
        std::string listed;
        for (size_t i = 0; i < std::min<size_t>(changed->size(), 12); ++i)
            listed += (i ? ", " : "") + (*changed)[i];
        if (changed->size() > 12) listed += "…";
        ActivityLog::write("Koala's MIDI map: the controller's keys written (" +
                           std::to_string(changed->size()) + ": " + listed + "); backed up first");
    }
    if (mode == Mode::push2) {
        if (auto conflict = pushInputConflict()) return failure(*conflict);
    }
    auto changes = enforceSettings(settings, isRunning, mode);
    if (!changes) return changes.error();
    if (*changes && !(*changes)->empty()) {
        std::string listed;
        for (const std::string& change : **changes)
            listed += (listed.empty() ? "" : ", ") + change;
        ActivityLog::write("Koala's MIDI settings set: " + listed + "; defaults.json backed up first");
    }
    if (mode == Mode::push2 && !settingsMatch(Mode::push2)) return failure(pushNotPrepared);
    return {};
}

Result<bool> offlineSelfCheck() {
    FileSystem& disk = FileSystem::local();
    ScratchFolder folder("Tandem-Push-Profile-Test-");
    if (!folder.made()) return folder.made().error();
    const fs::path& scratch = folder.path();
    const fs::path settings = scratch / "settings";
    if (auto made = disk.createDirectories(settings); !made) return made.error();

    // MIDI settings unlike the required ones, and a key Tandem must leave alone.
    Json::Value defaults{{"audioOutput", "keep-me"},
                         {"useMidiMapping", false},
                         {"midiInputChannel", 1},
                         {"keyboardMidiChannel", 16},
                         {"builtInMidiMappingsEnabled", true},
                         {"midiCanSelectNotes", false}};
    // The MPC entries with a few of them learned onto other keys, a foreign entry holding the key of
    // "/undo" and a learned entry of the user's own.
    Json::Value mappings = Json::Value::array();
    const auto& mpc = KoalaMIDIProfile::entries();
    for (size_t i = 0; i < mpc.size(); ++i) {
        const auto& [address, key] = mpc[i];
        int64_t value = i % 10 == 3 ? key.value + 100 : key.value;
        mappings.push_back(KoalaMIDIProfile::entry(address, i % 10 == 3 ? 12 : key.channel, key.type, value));
    }
    mappings.push_back(KoalaMIDIProfile::entry("/stole/undo", 14, "note", 2));
    mappings.push_back(KoalaMIDIProfile::entry("/learned/elsewhere", 1, "note", 120));
    auto defaultsText = Json::serialize(defaults);
    auto mapText = Json::serialize(Json::Value{{"type", "midiMap"}, {"mappings", mappings}});
    if (!defaultsText) return defaultsText.error();
    if (!mapText) return mapText.error();
    if (auto written = disk.writeFile(settings / "defaults.json", *defaultsText); !written)
        return written.error();
    if (auto written = disk.writeFile(settings / "midiMapping.json", *mapText); !written)
        return written.error();
    auto mapBytes = [&] { return disk.readFile(settings / "midiMapping.json").value_or(""); };

    if (repairMap(
            settings, [] { return true; }, disk)
            .ok() ||
        mapBytes() != *mapText)
        return false;
    auto repaired = repairMap(
        settings, [] { return false; }, disk);
    if (!repaired) return repaired.error();
    if (repaired->empty()) return false;

    auto newMap = Json::readFile(settings / "midiMapping.json");
    if (!newMap) return false;
    KoalaKeyMap written = mapping(settings / "midiMapping.json");
    for (const auto& [address, key] : canonicalMap()) {
        auto found = written.find(address);
        if (found == written.end() || found->second != key) return false;
    }
    if (written.count("/stole/undo") || !written.count("/learned/elsewhere")) return false;
    std::unordered_map<KoalaKey, int, KoalaKeyHash> holders;
    for (const Json::Value& entry : (*newMap)["mappings"]) {
        if (auto entryKey = key(entry); entryKey && ++holders[*entryKey] > 1) return false;
    }
    bool backedUp = false;
    for (const std::string& folder : disk.list(scratch / "Tandem backups")) {
        backedUp |=
            disk.readFile(scratch / "Tandem backups" / folder / "midiMapping.json").value_or("") == *mapText;
    }
    if (!backedUp) return false;

    std::string repairedBytes = mapBytes();
    auto again = repairMap(
        settings, [] { return false; }, disk);
    if (!again) return again.error();
    if (!again->empty() || mapBytes() != repairedBytes) return false;

    if (enforceSettings(
            settings, [] { return true; }, Mode::push2, disk)
            .ok())
        return false;
    auto enforced = enforceSettings(
        settings, [] { return false; }, Mode::push2, disk);
    if (!enforced) return enforced.error();
    if (!*enforced || (*enforced)->empty()) return false;
    auto newSettings = Json::readFile(settings / "defaults.json");
    if (!newSettings || Json::string(*newSettings, "audioOutput") != "keep-me") return false;
    for (const Setting& setting : requiredSettings(Mode::push2)) {
        if (!sameSetting(Json::member(*newSettings, setting.key), setting.value)) return false;
    }
    auto second = enforceSettings(
        settings, [] { return false; }, Mode::push2, disk);
    if (!second) return second.error();
    if (!*second || !(*second)->empty()) return false;

    return canSelectPads(settings) && keyboardSettings(settings) == KeyboardSettings{13, 36, 16};
}

} // namespace tandem::KoalaPushProfile
