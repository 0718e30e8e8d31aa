#pragma once

#include "base/MidiMessage.h"

#include <cstdint>
#include <span>
#include <vector>

namespace tandem {

// The message assembly state of one MIDI source endpoint: running status, the data bytes of the
// message in progress, whether a System Exclusive block is open, and the selector and button notes
// this endpoint holds down (kept here so they vanish with the endpoint's stream).
struct Stream {
    uint8_t status = 0;
    std::array<uint8_t, 2> data{};
    uint8_t dataCount = 0;
    bool inSysEx = false;
    NoteSet selectors;
    NoteSet buttons;

    // Appends to `out` every channel message that the bytes of `chunk` complete, in byte order.
    void decode(std::span<const uint8_t> chunk, std::vector<MidiMessage>& out);
    std::vector<MidiMessage> decode(std::span<const uint8_t> chunk) {
        std::vector<MidiMessage> out;
        decode(chunk, out);
        return out;
    }
};

} // namespace tandem
