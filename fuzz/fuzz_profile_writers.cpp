// Koala's three file writers against settings files anyone may have edited: a writer either leaves
// Koala's files exactly as they were, or leaves them holding what it promises, with the old bytes
// backed up and no temporary left behind.
//
// Input: [control] [defaults.json] 0xFF [midiMapping.json]. Control bits 0-1 pick the writer
// (install, repairMap, enforceSettings for the MPC, enforceSettings for the Push), bit 2 makes
// defaults.json exist, bit 3 midiMapping.json, bit 4 the settings folder when neither file does.
// "0xFE n" repeats the byte before it 64 × n times (deep nesting, long lists).
//
// Keys are judged here by a reader of our own, as Koala reads them: an integral real such as 36.0 is
// the integer 36.
#include "FuzzSupport.h"

#include "tandem/profiles/KoalaMIDIProfile.h"
#include "tandem/profiles/KoalaPushProfile.h"

#include <cmath>

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
namespace Push = tandem::KoalaPushProfile;

struct Places {
    fs::path root, settings, backups, receipt;
};

const Places& places() {
    static const Places made = [] {
        const fs::path& scratch = fuzz::scratchFolder("tandem-fuzz-profiles-");
        fs::create_directories(scratch / "home");
        setenv("HOME", (scratch / "home").c_str(), 1);
        const fs::path root = scratch / "Koala Sampler";
        return Places{root, root / "settings", root / "Tandem backups",
                      scratch / "support" / "mpc-64-v1.json"};
    }();
    return made;
}

// A whole number as Koala takes it: an integer, or a real with nothing after the point.
std::optional<int64_t> whole(const json& value) {
    if (value.is_number_unsigned()) {
        const uint64_t raw = value.get<uint64_t>();
        if (raw > uint64_t(INT64_MAX)) return std::nullopt;
        return int64_t(raw);
    }
    if (value.is_number_integer()) return value.get<int64_t>();
    if (value.is_number_float()) {
        const double real = value.get<double>();
        if (!std::isfinite(real) || std::trunc(real) != real || std::fabs(real) >= 9.2e18)
            return std::nullopt;
        return int64_t(real);
    }
    return std::nullopt;
}

struct Key {
    int64_t channel;
    std::string type;
    int64_t value;
    bool operator==(const Key&) const = default;
};

std::optional<Key> keyOf(const json& entry) {
    if (!entry.is_object()) return std::nullopt;
    const auto key = entry.find("key");
    if (key == entry.end() || !key->is_object()) return std::nullopt;
    const auto channel = key->find("channel"), type = key->find("type"), value = key->find("value");
    if (channel == key->end() || type == key->end() || value == key->end() || !type->is_string())
        return std::nullopt;
    const auto wholeChannel = whole(*channel), wholeValue = whole(*value);
    if (!wholeChannel || !wholeValue) return std::nullopt;
    return Key{*wholeChannel, type->get<std::string>(), *wholeValue};
}

std::optional<std::string> addressOf(const json& entry) {
    if (!entry.is_object()) return std::nullopt;
    const auto address = entry.find("address");
    if (address == entry.end() || !address->is_string()) return std::nullopt;
    return address->get<std::string>();
}

// How deep brackets nest in JSON text, strings skipped: our own comparisons recurse, so they only
// run on values whose depth cannot exhaust the stack.
size_t nesting(const std::string& text) {
    size_t depth = 0, deepest = 0;
    bool inString = false, escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return deepest;
}

std::optional<json> object(const std::optional<std::string>& bytes) {
    if (!bytes) return std::nullopt;
    json parsed = json::parse(*bytes, nullptr, false);
    if (!parsed.is_object()) return std::nullopt;
    return parsed;
}

// Every address in `wanted` is held by exactly one entry of the written map's "mappings", and its
// key by exactly one entry too: the same one.
void checkMap(const std::optional<std::string>& bytes, const std::vector<tandem::KoalaMapEntry>& wanted) {
    const auto map = object(bytes);
    FUZZ_CHECK(map.has_value(), "the written map is a JSON object");
    const auto mappings = map->find("mappings");
    FUZZ_CHECK(mappings != map->end() && mappings->is_array(), "the written map has a \"mappings\" list");
    std::vector<std::optional<Key>> keys;
    std::vector<std::optional<std::string>> addresses;
    for (const json& entry : *mappings) {
        keys.push_back(keyOf(entry));
        addresses.push_back(addressOf(entry));
    }
    for (const auto& [address, key] : wanted) {
        const Key expected{key.channel, key.type, key.value};
        size_t holders = 0, sameAddress = 0;
        std::optional<std::string> holder;
        for (size_t i = 0; i < keys.size(); ++i) {
            if (keys[i] == expected) {
                ++holders;
                holder = addresses[i];
            }
            if (addresses[i] == address) ++sameAddress;
        }
        if (holders != 1 || holder != address || sameAddress != 1) {
            std::fprintf(stderr,
                         "\ndetail: %s: key %lld/%s/%lld held by %zu entries, address on %zu entries\n",
                         address.c_str(), (long long)key.channel, key.type.c_str(), (long long)key.value,
                         holders, sameAddress);
        }
        FUZZ_CHECK(holders == 1, "each key of the profile is held by exactly one entry");
        FUZZ_CHECK(holder == address, "the entry holding a profile key has the profile's address");
        FUZZ_CHECK(sameAddress == 1, "each address of the profile is on exactly one entry");
    }
}

enum class Kind { null, boolean, integer, real, string, array, object, other };
Kind kindOf(const json& value) {
    if (value.is_null()) return Kind::null;
    if (value.is_boolean()) return Kind::boolean;
    if (value.is_number_integer()) return Kind::integer; // signed or unsigned alike
    if (value.is_number_float()) return Kind::real;
    if (value.is_string()) return Kind::string;
    if (value.is_array()) return Kind::array;
    if (value.is_object()) return Kind::object;
    return Kind::other;
}

void checkSettings(const std::optional<std::string>& bytes, Push::Mode mode) {
    const auto settings = object(bytes);
    FUZZ_CHECK(settings.has_value(), "the written settings are a JSON object");
    for (const Push::Setting& setting : Push::requiredSettings(mode)) {
        const auto stored = settings->find(setting.key);
        FUZZ_CHECK(stored != settings->end(), "every required setting is present");
        FUZZ_CHECK(kindOf(*stored) == kindOf(setting.value), "every required setting has the required kind");
        bool same = false;
        switch (kindOf(setting.value)) {
        case Kind::boolean:
            same = stored->get<bool>() == setting.value.get<bool>();
            break;
        case Kind::integer:
            same = whole(*stored) == whole(setting.value);
            break;
        case Kind::string:
            same = stored->get<std::string>() == setting.value.get<std::string>();
            break;
        default:
            same = false;
        }
        if (!same) std::fprintf(stderr, "\ndetail: setting %s\n", setting.key.c_str());
        FUZZ_CHECK(same, "every required setting has the required value");
    }
}

// A file that existed and was changed has its old bytes in a folder under "Tandem backups".
void checkBackedUp(const std::string& name, const std::optional<std::string>& before,
                   const std::optional<std::string>& after) {
    if (!before || before == after) return;
    bool found = false;
    std::error_code error;
    for (const auto& folder : fs::directory_iterator(places().backups, error)) {
        if (fuzz::readFile(folder.path() / name) == before) found = true;
    }
    FUZZ_CHECK(found, "a changed file's old bytes are backed up first");
}

// The non-object elements of a map's "mappings", which repairMap carries through as they are.
std::vector<json> nonObjects(const std::optional<std::string>& bytes) {
    std::vector<json> found;
    const auto map = object(bytes);
    if (!map) return found;
    const auto mappings = map->find("mappings");
    if (mappings == map->end() || !mappings->is_array()) return found;
    for (const json& entry : *mappings)
        if (!entry.is_object()) found.push_back(entry);
    return found;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const Places& at = places();
    const uint8_t control = data[0];
    std::vector<std::string> sections = fuzz::splitSections({data + 1, size - 1}, 2);
    sections.resize(2);
    for (std::string& section : sections)
        section = fuzz::expandRepeats(section);

    // A fresh Koala folder for every input, so a finding replays alone.
    std::error_code ignored;
    fs::remove_all(at.root, ignored);
    fs::remove_all(at.receipt.parent_path(), ignored);
    const fs::path defaultsPath = at.settings / "defaults.json", mapPath = at.settings / "midiMapping.json";
    std::optional<std::string> defaultsBefore, mapBefore;
    if (control & 0x04) defaultsBefore = sections[0];
    if (control & 0x08) mapBefore = sections[1];
    if (defaultsBefore || mapBefore || (control & 0x10)) fs::create_directories(at.settings);
    if (defaultsBefore) fuzz::writeFile(defaultsPath, *defaultsBefore);
    if (mapBefore) fuzz::writeFile(mapPath, *mapBefore);

    auto notRunning = [] { return false; };
    const int writer = control & 0x03;
    bool ok = false, wroteNothing = false;
    switch (writer) {
    case 0: {
        auto installed = tandem::KoalaMIDIProfile::install(at.settings, at.receipt, notRunning);
        ok = installed.ok();
        if (ok) FUZZ_CHECK(*installed, "with no receipt yet, a successful install reports a change");
        FUZZ_CHECK(fs::exists(at.receipt) == ok, "the receipt is written exactly when the install succeeds");
        break;
    }
    case 1: {
        auto repaired = Push::repairMap(at.settings, notRunning);
        ok = repaired.ok();
        wroteNothing = ok && repaired->empty();
        break;
    }
    default: {
        const Push::Mode mode = writer == 2 ? Push::Mode::mpcTouch : Push::Mode::push2;
        auto enforced = Push::enforceSettings(at.settings, notRunning, mode);
        ok = enforced.ok() && enforced->has_value();
        wroteNothing = ok && (*enforced)->empty();
        if (enforced.ok() && !enforced->has_value()) {
            const auto before = object(defaultsBefore);
            FUZZ_CHECK(!before || tandem::Json::nestedDeeperThan(*before),
                       "settings are left alone only when they are not a JSON object, or too deep to handle");
        }
        break;
    }
    }

    const std::optional<std::string> defaultsAfter = fuzz::readFile(defaultsPath),
                                     mapAfter = fuzz::readFile(mapPath);
    const bool unchanged = defaultsAfter == defaultsBefore && mapAfter == mapBefore;
    if (!ok || wroteNothing)
        FUZZ_CHECK(unchanged, "a writer that fails or finds nothing to do changes nothing");

    if (ok) {
        switch (writer) {
        case 0:
            checkMap(mapAfter, tandem::KoalaMIDIProfile::entries());
            FUZZ_CHECK(object(defaultsAfter).has_value(), "the installed settings are a JSON object");
            FUZZ_CHECK(object(fuzz::readFile(at.receipt)).has_value(), "the receipt is a JSON object");
            break;
        case 1:
            FUZZ_CHECK(defaultsAfter == defaultsBefore, "repairing the map leaves the settings alone");
            checkMap(mapAfter, Push::canonicalMap());
            if (mapBefore && nesting(*mapBefore) < 256) {
                FUZZ_CHECK(nonObjects(mapAfter) == nonObjects(mapBefore),
                           "elements of \"mappings\" that are not objects are carried through as they are");
            }
            break;
        default:
            FUZZ_CHECK(mapAfter == mapBefore, "setting the settings leaves the map alone");
            checkSettings(defaultsAfter, writer == 2 ? Push::Mode::mpcTouch : Push::Mode::push2);
            break;
        }
    }
    checkBackedUp("defaults.json", defaultsBefore, defaultsAfter);
    checkBackedUp("midiMapping.json", mapBefore, mapAfter);

    // Writes go through a temporary in the same folder, renamed over the file: none may stay behind.
    for (const auto& entry : fs::directory_iterator(at.settings, ignored)) {
        const std::string name = entry.path().filename().string();
        FUZZ_CHECK(name == "defaults.json" || name == "midiMapping.json", "no temporary file is left behind");
    }
    return 0;
}
