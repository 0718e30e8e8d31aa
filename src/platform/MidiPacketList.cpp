#include "platform/MidiPacketList.h"

#include <algorithm>
#include <cstring>

namespace tandem {

namespace {

template <class T> T load(const uint8_t* at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

template <class T> void store(uint8_t* at, T value) {
    std::memcpy(at, &value, sizeof value);
}

} // namespace

uint32_t MidiPacketList::count() const {
    return raw.size() < headerSize ? 0 : load<uint32_t>(raw.data());
}

bool MidiPacketList::read(size_t offset, Packet& packet) const {
    if (offset > raw.size() || raw.size() - offset < packetHeaderSize) return false;
    uint16_t length = load<uint16_t>(raw.data() + offset + 8);
    if (raw.size() - offset - packetHeaderSize < length) return false;
    packet.timeStamp = load<uint64_t>(raw.data() + offset);
    packet.data = raw.subspan(offset + packetHeaderSize, length);
    return true;
}

MidiPacketListBuilder::MidiPacketListBuilder(std::span<uint8_t> buffer)
    : buffer(buffer) {
    if (buffer.size() < MidiPacketList::headerSize) return;
    store<uint32_t>(buffer.data(), 0);
    used = MidiPacketList::headerSize;
}

bool MidiPacketListBuilder::add(uint64_t timeStamp, std::span<const uint8_t> data) {
    if (used == 0) return false;
    uint32_t count = load<uint32_t>(buffer.data());
    if (count > 0) {
        uint8_t* packet = buffer.data() + current;
        uint16_t length = load<uint16_t>(packet + 8);
        bool sysEx = (length > 0 && packet[MidiPacketList::packetHeaderSize] == 0xF0) ||
                     (!data.empty() && data[0] == 0xF0);
        bool sameTime = load<uint64_t>(packet) == timeStamp;
        if (sameTime && !sysEx && size_t{length} + data.size() <= 0xFFFF &&
            current + MidiPacketList::packetHeaderSize + length + data.size() <= buffer.size()) {
            if (!data.empty()) // an empty span may carry no pointer at all
                std::memcpy(packet + MidiPacketList::packetHeaderSize + length, data.data(), data.size());
            store<uint16_t>(packet + 8, static_cast<uint16_t>(length + data.size()));
            used = current + MidiPacketList::packetHeaderSize + length + data.size();
            return true;
        }
    }
    if (data.size() > 0xFFFF) return false;
    size_t offset = count == 0 ? MidiPacketList::headerSize
                               : MidiPacketList::next(current, load<uint16_t>(buffer.data() + current + 8));
    if (offset > buffer.size() || buffer.size() - offset < MidiPacketList::packetHeaderSize + data.size()) {
        return false;
    }
    uint8_t* packet = buffer.data() + offset;
    store<uint64_t>(packet, timeStamp);
    store<uint16_t>(packet + 8, static_cast<uint16_t>(data.size()));
    if (!data.empty()) std::memcpy(packet + MidiPacketList::packetHeaderSize, data.data(), data.size());
    // Padding up to the next packet stays inside the list so its byte length covers whole packets.
    size_t end = offset + MidiPacketList::packetHeaderSize + data.size();
    std::memset(buffer.data() + end, 0,
                std::min(buffer.size(), MidiPacketList::next(offset, data.size())) - end);
    current = offset;
    used = end;
    store<uint32_t>(buffer.data(), count + 1);
    return true;
}

} // namespace tandem
