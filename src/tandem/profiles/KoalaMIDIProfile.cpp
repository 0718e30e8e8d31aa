#include "tandem/profiles/KoalaMIDIProfile.h"

#include "base/ActivityLog.h"
#include "base/SafeFile.h"
#include "base/ScratchFolder.h"

#include <unordered_set>

namespace tandem::KoalaMIDIProfile {

namespace fs = std::filesystem;

namespace {

constexpr const char* refusedWhileRunning = "Save and quit Koala before installing its MPC mapping.";
constexpr const char* settingsUnreadable = "Koala's settings format could not be read; no settings changed.";
constexpr const char* mapUnreadable = "Koala's MIDI mapping format could not be read; no settings changed.";
constexpr const char* unknownMapping = "An unknown Koala mapping needs review; no settings changed.";
constexpr const char* conflictingMapping =
    "An extra Koala mapping conflicts with the MPC profile; no settings changed.";
constexpr const char* changedMeanwhile =
    "Koala or its settings changed during preparation; retry after quitting Koala.";
constexpr const char* installedLine =
    "Installed Koala 64-pad profile · Ch16 pads, Ch15 controls; original files backed up";

Error failure(const char* message) {
    return Error{errorDomain, 1, message};
}

// A whole real prints as its integer: Koala plays 36.0 as note 36, so it is the same key.
std::string plain(const Json::Value* value) {
    if (!value) return "?";
    if (value->is_string()) return value->get<std::string>();
    if (auto whole = Json::wholeNumber(value)) return std::to_string(*whole);
    return value->dump();
}

// The merged "mappings": the profile's entries, then every learned entry that may stay.
Result<Json::Value> mergedMappings(const Json::Value& map) {
    Json::Value merged = Json::Value::array();
    std::unordered_set<std::string> addresses, signatures;
    for (const auto& [address, key] : entries()) {
        Json::Value made = entry(address, key.channel, key.type, key.value);
        addresses.insert(address);
        signatures.insert(signature(made));
        merged.push_back(std::move(made));
    }
    const Json::Value* existing = Json::member(map, "mappings");
    if (!existing || !existing->is_array()) return merged;
    for (const Json::Value& learned : *existing) {
        auto address = Json::string(learned, "address");
        if (!address) return failure(unknownMapping);
        if (address->rfind("/pads/", 0) == 0 || addresses.count(*address))
            continue; // the profile replaces it
        const Json::Value* key = Json::member(learned, "key");
        auto channel =
            key && key->is_object() ? Json::wholeNumber(Json::member(*key, "channel")) : std::nullopt;
        // Channel 1 is the MPC's raw output and 10 its pads: a learned key there would fire twice.
        if (!channel || *channel < 2 || *channel == 10 || signatures.count(signature(learned))) {
            return failure(conflictingMapping);
        }
        merged.push_back(learned);
    }
    return merged;
}

} // namespace

const std::vector<KoalaMapEntry>& entries() {
    static const std::vector<KoalaMapEntry> list = [] {
        std::vector<KoalaMapEntry> made;
        for (int pad = 0; pad < 64; ++pad)
            made.push_back({KoalaPushProfile::padAddress(pad), {16, "note", 36 + pad}});
        const char* controls[] = {"/currPad/sample/start", "/currPad/sample/length", "/currPad/volume",
                                  "/currPad/pitch"};
        for (int i = 0; i < 4; ++i)
            made.push_back({controls[i], {15, "cc", i + 1}});
        made.push_back({"/keyboard/toggle", {15, "note", 40}});
        made.push_back({"/sequencer/record/toggle", {15, "note", 73}});
        made.push_back({"/sequencer/play/toggle", {15, "note", 82}});
        return made;
    }();
    return list;
}

Json::Value entry(const std::string& address, int64_t channel, const std::string& type, int64_t value) {
    return Json::Value{{"address", address}, {"key", KoalaKey{channel, type, value}.json()}};
}

std::string signature(const Json::Value& entry) {
    if (!entry.is_object() || entry.empty()) return "invalid";
    const Json::Value* key = Json::member(entry, "key");
    if (!key || !key->is_object()) return "invalid";
    return plain(Json::member(*key, "channel")) + "/" + plain(Json::member(*key, "type")) + "/" +
           plain(Json::member(*key, "value"));
}

fs::path receiptPath() {
    return Paths::applicationSupport() / (std::string(revision) + ".json");
}

Result<bool> install(const fs::path& settings, const fs::path& receipt,
                     const std::function<bool()>& isRunning, FileSystem& disk) {
    if (disk.exists(receipt)) return false;
    if (isRunning()) return failure(refusedWhileRunning);

    const fs::path defaultsPath = settings / "defaults.json";
    const fs::path mapPath = settings / "midiMapping.json";
    auto defaultsRead = disk.readFile(defaultsPath);
    if (!defaultsRead) return defaultsRead.error();
    SafeFile::Snapshot defaults{defaultsPath, std::move(defaultsRead).value()};
    auto mapRead = SafeFile::capture(mapPath, disk);
    if (!mapRead) return mapRead.error();

    auto settingsObject = Json::parse(*defaults.bytes);
    if (!settingsObject) return settingsObject.error();
    if (!settingsObject->is_object() || Json::nestedDeeperThan(*settingsObject))
        return failure(settingsUnreadable);
    auto mapFile = KoalaPushProfile::parseMapFile(std::move(mapRead).value(), failure(mapUnreadable));
    if (!mapFile) return mapFile.error();
    const SafeFile::Snapshot& map = mapFile->read;
    Json::Value& mapObject = mapFile->object;

    auto mappings = mergedMappings(mapObject);
    if (!mappings) return mappings.error();

    Json::Value& newSettings = *settingsObject;
    newSettings["useMidiMapping"] = true;
    newSettings["midiInputChannel"] = 16;
    newSettings["keyboardMidiChannel"] = 16;
    newSettings["midiNoteOffset"] = 36;
    newSettings["midiCanSelectNotes"] = true;
    newSettings["builtInMidiMappingsEnabled"] = false;
    mapObject["mappings"] = std::move(mappings).value();
    mapObject["type"] = "midiMap";

    auto mapText = Json::serialize(mapObject);
    if (!mapText) return mapText.error();
    auto settingsText = Json::serialize(newSettings);
    if (!settingsText) return settingsText.error();

    auto backup = SafeFile::backup(settings.parent_path() / "Tandem backups", std::string(revision) + "-",
                                   {&defaults, &map}, disk);
    if (!backup) return backup.error();
    auto receiptText = Json::serialize(Json::Value{{"revision", revision}, {"backup", backup->string()}});
    if (!receiptText) return receiptText.error();
    if (auto made = disk.createDirectories(receipt.parent_path()); !made) return made.error();

    if (isRunning() || !defaults.unchanged(disk) || !map.unchanged(disk)) return failure(changedMeanwhile);

    auto restore = [&] {
        if (map.existed()) {
            (void)SafeFile::atomicWrite(mapPath, *map.bytes, disk);
        } else if (disk.exists(mapPath)) {
            (void)disk.remove(mapPath);
        }
        (void)SafeFile::atomicWrite(defaultsPath, *defaults.bytes, disk);
    };
    const std::pair<const fs::path*, const std::string*> writes[] = {
        {&mapPath, &*mapText}, {&defaultsPath, &*settingsText}, {&receipt, &*receiptText}};
    for (const auto& [path, text] : writes) {
        if (auto written = SafeFile::atomicWrite(*path, *text, disk); !written) {
            restore();
            return written.error();
        }
    }
    return true;
}

Result<bool> prepare(Workspace& workspace) {
    auto installed =
        install(Paths::koalaSettings(), receiptPath(), [&] { return isKoalaRunning(workspace); });
    if (installed && *installed) ActivityLog::write(installedLine);
    return installed;
}

Result<bool> offlineSelfCheck() {
    ScratchFolder folder("Tandem-Profile-Test-");
    if (!folder.made()) return folder.made().error();
    const fs::path& scratch = folder.path();
    FileSystem& disk = FileSystem::local();

    const fs::path settings = scratch / "settings";
    const fs::path receipt = scratch / "receipt.json";
    if (auto made = disk.createDirectories(settings); !made) return made.error();
    const std::string defaultsBytes = R"({"audioOutput":"keep-me","keyboardMidiChannel":0})";
    auto mapText = Json::serialize(Json::Value{
        {"type", "midiMap"}, {"mappings", Json::Value::array({entry("/pads/A1", 10, "note", 37)})}});
    if (!mapText) return mapText.error();
    if (auto written = disk.writeFile(settings / "defaults.json", defaultsBytes); !written)
        return written.error();
    if (auto written = disk.writeFile(settings / "midiMapping.json", *mapText); !written)
        return written.error();

    auto refused = install(
        settings, receipt, [] { return true; }, disk);
    if (refused || refused.error().description != refusedWhileRunning) return false;
    if (disk.readFile(settings / "defaults.json").value_or("") != defaultsBytes) return false;
    if (disk.readFile(settings / "midiMapping.json").value_or("") != *mapText) return false;

    auto installed = install(
        settings, receipt, [] { return false; }, disk);
    if (!installed) return installed.error();
    if (!*installed) return false;

    auto newSettings = Json::readFile(settings / "defaults.json");
    auto newMap = Json::readFile(settings / "midiMapping.json");
    auto receiptObject = Json::readFile(receipt);
    if (!newSettings || !newMap || !receiptObject) return false;
    if (Json::string(*newSettings, "audioOutput") != "keep-me") return false;
    if (Json::integer(*newSettings, "keyboardMidiChannel") != 16) return false;
    const Json::Value* mappings = Json::member(*newMap, "mappings");
    if (!mappings || !mappings->is_array() || mappings->size() != entries().size()) return false;
    auto backup = Json::string(*receiptObject, "backup");
    if (!backup || disk.readFile(fs::path(*backup) / "defaults.json").value_or("") != defaultsBytes)
        return false;

    auto second = install(
        settings, receipt, [] { return false; }, disk);
    if (!second) return second.error();
    return !*second;
}

} // namespace tandem::KoalaMIDIProfile
