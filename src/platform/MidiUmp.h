#pragma once

#include "platform/Midi.h"

#include <cstdint>
#include <span>
#include <vector>

namespace tandem::Ump {

// MIDI 1.0 byte streams to Universal MIDI Packets (group 0) and back, as CoreMIDI converts between
// packet lists and event lists: channel voice messages become type 2, system common and real-time
// type 1, System Exclusive type 3 in pieces of up to six bytes. Running status is understood.
MidiEventPacket fromBytes(uint64_t timeStamp, std::span<const uint8_t> bytes);
std::vector<uint8_t> toBytes(const MidiEventPacket& packet);

// One type-2 word: a channel voice message.
uint32_t channelVoice(uint8_t status, uint8_t data1, uint8_t data2 = 0);
// Type-3 words for one System Exclusive message given without its F0 and F7.
std::vector<uint32_t> systemExclusive(std::span<const uint8_t> body);

} // namespace tandem::Ump
