// Packet lists from the MIDI thread: whatever bytes arrive, reading one stays inside them, the bridge
// copies exactly the packets a reader visits, and a list rebuilt from those packets reads back the same.
//
// Input: the bytes of a packet list in CoreMIDI's layout (host byte order), used as they are.
#include "FuzzSupport.h"

#include "platform/MidiPacketList.h"
#include "tandem/mpc/KoalaMIDIBridge.h"

#include <cstring>

namespace {

using tandem::ChunkList;
using tandem::MidiPacketList;
using tandem::MidiPacketListBuilder;

struct Packet {
    uint64_t timeStamp;
    fuzz::Bytes data;
    bool operator==(const Packet&) const = default;
};

// The layout walked by hand: a 32-bit count, then packets of a 64-bit time stamp, a 16-bit length and
// the data, each next one at the following multiple of 4; reading stops at the first packet that does
// not fit.
std::vector<Packet> walk(std::span<const uint8_t> bytes) {
    std::vector<Packet> packets;
    if (bytes.size() < 4) return packets;
    uint32_t count;
    std::memcpy(&count, bytes.data(), 4);
    size_t at = 4;
    for (uint32_t i = 0; i < count; ++i) {
        if (at + 10 > bytes.size()) break;
        Packet packet;
        std::memcpy(&packet.timeStamp, bytes.data() + at, 8);
        uint16_t length;
        std::memcpy(&length, bytes.data() + at + 8, 2);
        if (at + 10 + length > bytes.size()) break;
        packet.data.assign(bytes.begin() + at + 10, bytes.begin() + at + 10 + length);
        packets.push_back(std::move(packet));
        at = (at + 10 + length + 3) / 4 * 4;
    }
    return packets;
}

std::vector<Packet> visit(const MidiPacketList& list) {
    std::vector<Packet> packets;
    const std::span<const uint8_t> all = list.bytes();
    list.forEach([&](const MidiPacketList::Packet& packet) {
        // Every view must lie inside the list's bytes; copying it touches every byte for ASan.
        FUZZ_CHECK(packet.data.empty() ||
                       (packet.data.data() >= all.data() &&
                        packet.data.data() + packet.data.size() <= all.data() + all.size()),
                   "a packet's data lies inside the list");
        packets.push_back({packet.timeStamp, fuzz::Bytes(packet.data.begin(), packet.data.end())});
    });
    return packets;
}

void checkChunks(const ChunkList& chunks, const std::vector<Packet>& packets) {
    FUZZ_CHECK(chunks.size() == packets.size(), "the bridge copies one chunk per packet visited");
    size_t total = 0, expected = 0;
    for (size_t i = 0; i < chunks.size(); ++i) {
        std::span<const uint8_t> chunk = chunks[i];
        total += chunk.size();
        expected += packets[i].data.size();
        FUZZ_CHECK(fuzz::Bytes(chunk.begin(), chunk.end()) == packets[i].data,
                   "each chunk holds its packet's bytes, in order");
    }
    FUZZ_CHECK(total == expected, "the chunks' bytes add up to the packets' lengths");
}

// What a builder makes of these packets: like MIDIPacketListAdd, data with the time stamp of the packet
// before joins it unless either is System Exclusive (and the joined length still fits 16 bits).
std::vector<Packet> joined(const std::vector<Packet>& packets) {
    std::vector<Packet> out;
    for (const Packet& packet : packets) {
        if (!out.empty()) {
            Packet& last = out.back();
            const bool sysEx = (!last.data.empty() && last.data[0] == 0xF0) ||
                               (!packet.data.empty() && packet.data[0] == 0xF0);
            if (last.timeStamp == packet.timeStamp && !sysEx &&
                last.data.size() + packet.data.size() <= 0xFFFF) {
                last.data.insert(last.data.end(), packet.data.begin(), packet.data.end());
                continue;
            }
        }
        out.push_back(packet);
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Exactly sized copies, one of them off 4-byte alignment, so a read past the end is a heap
    // overflow ASan reports, and no reader may assume aligned fields.
    std::vector<uint8_t> exact(data, data + size);
    std::vector<uint8_t> shifted(size + 1);
    std::memcpy(shifted.data() + 1, data, size);

    const std::vector<Packet> expected = walk(exact);
    for (std::span<const uint8_t> bytes :
         {std::span<const uint8_t>(exact), std::span<const uint8_t>(shifted).subspan(1)}) {
        MidiPacketList list(bytes);
        uint32_t header = 0;
        if (bytes.size() >= 4) std::memcpy(&header, bytes.data(), 4);
        FUZZ_CHECK(list.count() == header, "count is the header's value, 0 without a header");
        const std::vector<Packet> packets = visit(list);
        FUZZ_CHECK(packets == expected, "forEach visits exactly the packets that fit, in order");
        FUZZ_CHECK(packets.size() <= list.count(), "never more packets than the header claims");
        checkChunks(tandem::KoalaMIDIBridge::messages(list), packets);
    }

    // Rebuild the visited packets into a fresh buffer full of garbage, with room to spare.
    size_t room = 4;
    for (const Packet& packet : expected)
        room += 10 + packet.data.size() + 3;
    std::vector<uint8_t> buffer(room, 0xEE);
    MidiPacketListBuilder builder(buffer);
    std::vector<size_t> used; // the list's length after each add
    for (const Packet& packet : expected) {
        FUZZ_CHECK(builder.add(packet.timeStamp, packet.data), "a packet fits a buffer with room for it");
        used.push_back(builder.size());
    }
    const std::vector<Packet> rebuilt = visit(builder.list());
    const std::vector<Packet> wanted = joined(expected);
    FUZZ_CHECK(rebuilt == wanted, "a rebuilt list reads back the same packets");
    FUZZ_CHECK(builder.list().count() == wanted.size(), "the rebuilt header counts its packets");
    checkChunks(tandem::KoalaMIDIBridge::messages(builder.list()), rebuilt);

    // The same packets into a buffer one byte shorter than the last add needed: every earlier add
    // fits, and the last, refused, leaves the list as it was. (An empty packet joined to the one
    // before needs no room, so there is nothing to refuse.)
    const size_t previous = used.size() > 1 ? used[used.size() - 2] : 4;
    if (!used.empty() && used.back() > previous) {
        std::vector<uint8_t> tight(used.back() - 1, 0xEE);
        MidiPacketListBuilder shorter(tight);
        for (size_t i = 0; i + 1 < expected.size(); ++i)
            FUZZ_CHECK(shorter.add(expected[i].timeStamp, expected[i].data), "earlier packets still fit");
        const std::span<const uint8_t> before = shorter.list().bytes();
        const fuzz::Bytes copy(before.begin(), before.end());
        FUZZ_CHECK(!shorter.add(expected.back().timeStamp, expected.back().data),
                   "the last packet does not fit one byte short");
        const std::span<const uint8_t> after = shorter.list().bytes();
        FUZZ_CHECK(fuzz::Bytes(after.begin(), after.end()) == copy,
                   "a refused add leaves the list unchanged");
    }
    return 0;
}
