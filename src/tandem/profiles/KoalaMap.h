#pragma once

#include "base/FileSystem.h"
#include "base/Json.h"
#include "base/Paths.h"
#include "base/SafeFile.h"
#include "platform/Workspace.h"
#include "tandem/profiles/KoalaKey.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tandem {

inline constexpr const char* koalaBundleIdentifier = "com.elf-audio.koala-mac";

// Koala runs when any running application with its bundle identifier is not terminated.
bool isKoalaRunning(Workspace& workspace);

// One command address of Koala with the key that triggers it.
using KoalaMapEntry = std::pair<std::string, KoalaKey>;
// Address → key, sorted by address.
using KoalaKeyMap = std::map<std::string, KoalaKey>;

// Koala's command vocabulary and the readers of its MIDI map and settings.
namespace KoalaPushProfile {

// The sixteen performance effects, in Koala's order.
const std::vector<std::string>& fxNames();
// "/perform/fx/" + the name in lower case without spaces.
std::string fxAddress(const std::string& name);
// The 93 button addresses (note = position on channel 14, effects as controllers).
const std::vector<std::string>& buttons();
// The 25 encoder addresses (controller = position + 1, or + 18 from position 22, on channel 14).
const std::vector<std::string>& knobs();
// The Push's keys for every button and encoder address.
const std::vector<KoalaMapEntry>& defaults();
// Tandem's full map: the MPC profile's 71 entries, then the defaults whose address and key are new.
const std::vector<KoalaMapEntry>& canonicalMap();

// "/pads/" + bank letter A-D + pad number 1-16 for pad index 0-63 (banks above D stay at D).
std::string padAddress(int index);
// "/sequencer/sequences/" + index.
std::string sequenceAddress(int index);

// The key of a map entry: present only when "key" holds an integer "channel", a string "type" and an
// integer "value".
std::optional<KoalaKey> key(const Json::Value& entry);
// The key of a map entry as Koala plays it: "channel" and "value" may also be written as whole reals
// (36.0). Used wherever a key must be recognised however it was hand-edited.
std::optional<KoalaKey> looseKey(const Json::Value& entry);
// Every entry of a map file with a string address and a valid key, later entries replacing earlier
// ones; a missing or malformed file gives an empty map.
KoalaKeyMap mapping(const std::filesystem::path& file);
// The settings folder's map with the song's map merged over it.
KoalaKeyMap currentKeys(const std::filesystem::path& koalaSampler = Paths::koalaSampler());

// A MIDI map file as a writer reads it: its bytes (or its absence) and its object. A missing file
// reads as {"type": "midiMap", "mappings": []}; read and JSON errors are raised; a root that is not an
// object, or one nested too deep to handle, fails with `notAnObject`.
struct MapFile {
    SafeFile::Snapshot read;
    Json::Value object;
};
Result<MapFile> readMapFile(const std::filesystem::path& file, const Error& notAnObject,
                            FileSystem& disk = FileSystem::local());
// The same for bytes already read (`read.bytes` empty: the file did not exist).
Result<MapFile> parseMapFile(SafeFile::Snapshot read, const Error& notAnObject);

struct KeyboardSettings {
    int64_t channel = 16;    // "keyboardMidiChannel"
    int64_t offset = 36;     // "midiNoteOffset"
    int64_t padChannel = 16; // "midiInputChannel"
    bool operator==(const KeyboardSettings&) const = default;
};
KeyboardSettings keyboardSettings(const std::filesystem::path& settings);
// "midiCanSelectNotes"; true unless it is stored as false.
bool canSelectPads(const std::filesystem::path& settings);

} // namespace KoalaPushProfile

} // namespace tandem
