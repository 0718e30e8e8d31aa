#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tandem {

// A packet list in CoreMIDI's byte layout: a 32-bit packet count, then packets of a 64-bit time stamp,
// a 16-bit length and that many data bytes, each next packet starting at +10+length rounded up to a
// multiple of 4 (the arm64 layout). Multi-byte fields are in host byte order. This is a read-only
// view over bytes someone else owns; reading never goes past the end of those bytes.
class MidiPacketList {
public:
    struct Packet {
        uint64_t timeStamp;
        std::span<const uint8_t> data;
    };

    static constexpr size_t headerSize = 4;
    static constexpr size_t packetHeaderSize = 10;

    MidiPacketList() = default;
    explicit MidiPacketList(std::span<const uint8_t> bytes)
        : raw(bytes) {}

    std::span<const uint8_t> bytes() const { return raw; }
    // The packet count the header claims (0 for a list too short to have a header).
    uint32_t count() const;

    // Calls fn(Packet) for each packet in order; stops early at a packet that would run past the end.
    template <class F> void forEach(F&& fn) const {
        uint32_t packets = count();
        size_t offset = headerSize;
        for (uint32_t i = 0; i < packets; ++i) {
            Packet packet;
            if (!read(offset, packet)) return;
            fn(packet);
            if (i + 1 < packets) offset = next(offset, packet.data.size());
        }
    }

    static size_t next(size_t offset, size_t length) {
        return (offset + packetHeaderSize + length + 3) & ~size_t{3};
    }

private:
    bool read(size_t offset, Packet& packet) const;

    std::span<const uint8_t> raw;
};

// Builds a packet list in a caller's fixed-size buffer, as MIDIPacketListInit and MIDIPacketListAdd do.
class MidiPacketListBuilder {
public:
    // Initialises an empty list; a buffer shorter than the 4-byte header holds no list at all.
    explicit MidiPacketListBuilder(std::span<uint8_t> buffer);

    // Appends a packet. Like CoreMIDI, data with the same time stamp as the current packet is
    // appended to it when neither is System Exclusive. False, with the list unchanged, when the data
    // does not fit in the buffer (or exceeds a packet's 16-bit length).
    bool add(uint64_t timeStamp, std::span<const uint8_t> data);

    MidiPacketList list() const { return MidiPacketList(buffer.first(used)); }
    size_t size() const { return used; }

private:
    std::span<uint8_t> buffer;
    size_t used = 0;
    size_t current = 0; // offset of the last packet, when count > 0
};

} // namespace tandem
