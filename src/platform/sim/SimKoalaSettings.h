#pragma once

#include "platform/MidiPacketList.h"

#include <compare>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tandem {

// What the simulated Koala takes from its settings folder when it starts, read with its own code
// (never Tandem's readers, so that a mistake shared by both cannot hide). Missing or mistyped values
// fall back to what a fresh Koala writes on its first run: pads and keyboard on channel 1, first pad
// on note 48, pad notes select, no MIDI map.
struct SimKoalaSettings {
    struct Key {
        int channel = 1; // 1-16
        bool cc = false; // else a note
        int value = 0;   // 0-127
        auto operator<=>(const Key&) const = default;
    };

    int padChannel = 1;         // "midiInputChannel"
    int keyboardChannel = 1;    // "keyboardMidiChannel"
    int noteOffset = 48;        // "midiNoteOffset"
    bool canSelectNotes = true; // "midiCanSelectNotes"
    bool useMapping = false;    // "useMidiMapping"
    // Key → every address it triggers, in address order: one key may hold several commands.
    std::map<Key, std::vector<std::string>> commands;

    // "settings/defaults.json", and the map of "settings/midiMapping.json" with the song's
    // "default/midiMapping.json" over it (the song's entry wins for an address), under Koala Sampler.
    static SimKoalaSettings read(const std::filesystem::path& koalaSampler);
};

// One channel message as Koala takes it from a packet list.
struct SimMidiMessage {
    uint8_t status = 0; // with the channel in its low four bits
    uint8_t data1 = 0;
    uint8_t data2 = 0;
    int channel() const { return (status & 0x0F) + 1; }
    int kind() const { return status & 0xF0; }
};

// Every channel message of a packet list in order, running status included; real-time bytes,
// system common messages and System Exclusive are skipped.
void forEachChannelMessage(const MidiPacketList& list, const std::function<void(const SimMidiMessage&)>& fn);

} // namespace tandem
