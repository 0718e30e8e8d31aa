#include "platform/MidiUmp.h"

#include <algorithm>

namespace tandem::Ump {

namespace {

size_t dataLength(uint8_t status) {
    switch (status & 0xF0) {
    case 0xC0:
    case 0xD0:
        return 1;
    case 0xF0:
        switch (status) {
        case 0xF1:
        case 0xF3:
            return 1;
        case 0xF2:
            return 2;
        default:
            return 0;
        }
    default:
        return 2;
    }
}

// Type-3 packets: status 0 complete, 1 start, 2 continue, 3 end.
void appendSysEx(std::vector<uint32_t>& words, std::span<const uint8_t> body) {
    size_t pieces = std::max<size_t>(1, (body.size() + 5) / 6);
    for (size_t piece = 0; piece < pieces; ++piece) {
        size_t begin = piece * 6, count = std::min<size_t>(6, body.size() - std::min(body.size(), begin));
        uint32_t status = pieces == 1 ? 0 : piece == 0 ? 1 : piece + 1 == pieces ? 3 : 2;
        uint8_t bytes[6] = {};
        for (size_t i = 0; i < count; ++i)
            bytes[i] = body[begin + i] & 0x7F;
        words.push_back(0x30000000u | status << 20 | uint32_t(count) << 16 | uint32_t(bytes[0]) << 8 |
                        bytes[1]);
        words.push_back(uint32_t(bytes[2]) << 24 | uint32_t(bytes[3]) << 16 | uint32_t(bytes[4]) << 8 |
                        bytes[5]);
    }
}

} // namespace

uint32_t channelVoice(uint8_t status, uint8_t data1, uint8_t data2) {
    return 0x20000000u | uint32_t(status) << 16 | uint32_t(data1 & 0x7F) << 8 | (data2 & 0x7F);
}

std::vector<uint32_t> systemExclusive(std::span<const uint8_t> body) {
    std::vector<uint32_t> words;
    appendSysEx(words, body);
    return words;
}

MidiEventPacket fromBytes(uint64_t timeStamp, std::span<const uint8_t> bytes) {
    MidiEventPacket packet{timeStamp, {}};
    uint8_t running = 0;
    std::vector<uint8_t> data, sysEx;
    bool inSysEx = false;
    for (uint8_t byte : bytes) {
        if (byte >= 0xF8) {
            packet.words.push_back(0x10000000u | uint32_t(byte) << 16);
            continue;
        }
        if (inSysEx && byte < 0x80) {
            sysEx.push_back(byte);
            continue;
        }
        if (inSysEx) { // F7, or any status, ends the block
            appendSysEx(packet.words, sysEx);
            sysEx.clear();
            inSysEx = false;
            if (byte == 0xF7) continue;
        }
        if (byte == 0xF0) {
            inSysEx = true;
            running = 0;
            continue;
        }
        if (byte >= 0x80) {
            running = byte == 0xF7 ? 0 : byte;
            data.clear();
            if (running >= 0xF0 && dataLength(running) == 0) {
                packet.words.push_back(0x10000000u | uint32_t(running) << 16);
                running = 0;
            }
            continue;
        }
        if (!running) continue;
        data.push_back(byte);
        if (data.size() < dataLength(running)) continue;
        uint8_t d1 = data[0], d2 = data.size() > 1 ? data[1] : 0;
        if (running >= 0xF0) {
            packet.words.push_back(0x10000000u | uint32_t(running) << 16 | uint32_t(d1) << 8 | d2);
            running = 0;
        } else {
            packet.words.push_back(channelVoice(running, d1, d2));
        }
        data.clear();
    }
    if (inSysEx && !sysEx.empty()) appendSysEx(packet.words, sysEx); // an unfinished block, as far as it went
    return packet;
}

std::vector<uint8_t> toBytes(const MidiEventPacket& packet) {
    std::vector<uint8_t> bytes;
    const auto& words = packet.words;
    for (size_t i = 0; i < words.size();) {
        uint32_t word = words[i];
        size_t count = umpWordCount(word);
        if (i + count > words.size()) break;
        uint32_t type = word >> 28;
        uint8_t status = uint8_t(word >> 16);
        if (type == 1) {
            bytes.push_back(status);
            for (size_t d = 0; d < dataLength(status); ++d)
                bytes.push_back(uint8_t(word >> (8 - 8 * d)) & 0x7F);
        } else if (type == 2) {
            bytes.push_back(status);
            bytes.push_back(uint8_t(word >> 8) & 0x7F);
            if (dataLength(status) == 2) bytes.push_back(uint8_t(word) & 0x7F);
        } else if (type == 3) {
            uint32_t form = (word >> 20) & 0xF, length = std::min<uint32_t>(6, (word >> 16) & 0xF);
            uint32_t second = words[i + 1];
            uint8_t data[6] = {uint8_t(word >> 8),    uint8_t(word),        uint8_t(second >> 24),
                               uint8_t(second >> 16), uint8_t(second >> 8), uint8_t(second)};
            if (form == 0 || form == 1) bytes.push_back(0xF0);
            for (uint32_t d = 0; d < length; ++d)
                bytes.push_back(data[d] & 0x7F);
            if (form == 0 || form == 3) bytes.push_back(0xF7);
        }
        i += count;
    }
    return bytes;
}

} // namespace tandem::Ump
