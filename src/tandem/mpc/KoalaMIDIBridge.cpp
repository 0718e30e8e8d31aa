#include "tandem/mpc/KoalaMIDIBridge.h"

#include <algorithm>
#include <array>
#include <vector>

namespace tandem {

ChunkList KoalaMIDIBridge::messages(const MidiPacketList& list) {
    ChunkList chunks;
    list.forEach([&](const MidiPacketList::Packet& packet) { chunks.append(packet.data); });
    return chunks;
}

bool KoalaMIDIBridge::packetSelfCheck() {
    std::array<uint8_t, 2048> buffer{};
    MidiPacketListBuilder builder(buffer);
    std::vector<uint8_t> sysEx(602, 0x47);
    sysEx.front() = 0xF0;
    sysEx.back() = 0xF7;
    const std::vector<uint8_t> notes{0x99, 0x25, 0x64, 0x89, 0x25, 0x00};
    if (!builder.add(1, sysEx) || !builder.add(2, notes)) return false;

    ChunkList chunks = messages(builder.list());
    if (chunks.size() != 2) return false;
    auto same = [](std::span<const uint8_t> a, const std::vector<uint8_t>& b) {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
    };
    return same(chunks[0], sysEx) && same(chunks[1], notes);
}

} // namespace tandem
