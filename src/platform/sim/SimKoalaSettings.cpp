#include "platform/sim/SimKoalaSettings.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>
#include <optional>
#include <sstream>

namespace tandem {

namespace {

using json = nlohmann::json;

std::optional<json> readObject(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    json value = json::parse(bytes.str(), nullptr, false);
    if (value.is_discarded() || !value.is_object()) return std::nullopt;
    return value;
}

// Koala reads its numbers as numbers: 36 and 36.0 are the same note, 36.5 is none.
std::optional<int> whole(const json& object, const char* key, int low, int high) {
    auto found = object.find(key);
    if (found == object.end() || !found->is_number() || found->is_boolean()) return std::nullopt;
    const double value = found->get<double>();
    if (!std::isfinite(value) || value != std::floor(value) || value < low || value > high)
        return std::nullopt;
    return int(value);
}

std::optional<bool> flag(const json& object, const char* key) {
    auto found = object.find(key);
    if (found == object.end() || !found->is_boolean()) return std::nullopt;
    return found->get<bool>();
}

void readMap(const std::filesystem::path& file, std::map<std::string, SimKoalaSettings::Key>& into) {
    auto root = readObject(file);
    if (!root) return;
    auto mappings = root->find("mappings");
    if (mappings == root->end() || !mappings->is_array()) return;
    for (const json& entry : *mappings) {
        if (!entry.is_object()) continue;
        auto address = entry.find("address");
        auto key = entry.find("key");
        if (address == entry.end() || !address->is_string() || key == entry.end() || !key->is_object())
            continue;
        auto type = key->find("type");
        auto channel = whole(*key, "channel", 1, 16);
        auto value = whole(*key, "value", 0, 127);
        if (type == key->end() || !type->is_string() || !channel || !value) continue;
        const std::string kind = type->get<std::string>();
        if (kind != "note" && kind != "cc") continue;
        into[address->get<std::string>()] = {*channel, kind == "cc", *value};
    }
}

} // namespace

SimKoalaSettings SimKoalaSettings::read(const std::filesystem::path& koalaSampler) {
    SimKoalaSettings settings;
    if (auto defaults = readObject(koalaSampler / "settings" / "defaults.json")) {
        settings.padChannel = whole(*defaults, "midiInputChannel", 1, 16).value_or(settings.padChannel);
        settings.keyboardChannel =
            whole(*defaults, "keyboardMidiChannel", 1, 16).value_or(settings.keyboardChannel);
        settings.noteOffset = whole(*defaults, "midiNoteOffset", -127, 127).value_or(settings.noteOffset);
        settings.canSelectNotes = flag(*defaults, "midiCanSelectNotes").value_or(settings.canSelectNotes);
        settings.useMapping = flag(*defaults, "useMidiMapping").value_or(settings.useMapping);
    }
    std::map<std::string, Key> byAddress;
    readMap(koalaSampler / "settings" / "midiMapping.json", byAddress);
    readMap(koalaSampler / "default" / "midiMapping.json", byAddress);
    for (const auto& entry : byAddress)
        settings.commands[entry.second].push_back(entry.first);
    return settings;
}

void forEachChannelMessage(const MidiPacketList& list, const std::function<void(const SimMidiMessage&)>& fn) {
    uint8_t running = 0;
    bool inSysEx = false;
    uint8_t data[2] = {0, 0};
    size_t have = 0, need = 0;
    list.forEach([&](const MidiPacketList::Packet& packet) {
        for (uint8_t byte : packet.data) {
            if (byte >= 0xF8) continue; // real time, anywhere
            if (byte & 0x80) {
                inSysEx = byte == 0xF0;
                have = 0;
                if (byte >= 0xF0) {
                    running = 0; // system common cancels running status
                    continue;
                }
                running = byte;
                need = (byte & 0xF0) == 0xC0 || (byte & 0xF0) == 0xD0 ? 1 : 2;
                continue;
            }
            if (inSysEx || !running) continue;
            data[have++] = byte;
            if (have == need) {
                fn(SimMidiMessage{running, data[0], need == 2 ? data[1] : uint8_t(0)});
                have = 0;
            }
        }
    });
}

} // namespace tandem
