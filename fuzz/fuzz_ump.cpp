// Universal MIDI Packets: MIDI 1.0 bytes to UMP and back (the simulated CoreMIDI's conversion), and the
// Push device's reading of whatever words arrive.
//
// Input: [mode] [rest]. Mode 0 builds a well-formed MIDI 1.0 stream from the rest (channel messages
// with and without running status, SysEx, system common, real-time bytes anywhere, stray F7s) and
// checks the round trip against the stream's canonical form. Mode 1 converts the rest as raw MIDI
// bytes and checks that the result is a fixed point. Mode 2 reads the rest as packets of raw words
// for Push2Device::convert and Ump::toBytes.
#include "FuzzSupport.h"

#include "platform/MidiUmp.h"
#include "tandem/push/Push2Device.h"

#include <cstring>

namespace {

using fuzz::Bytes;
using tandem::MidiEventList;
using tandem::MidiEventPacket;
using tandem::Push2Device;
namespace Ump = tandem::Ump;

struct Reader {
    std::span<const uint8_t> bytes;
    size_t at = 0;
    bool done() const { return at >= bytes.size(); }
    uint8_t next() { return done() ? 0 : bytes[at++]; }
    uint64_t next64() {
        uint64_t value = 0;
        for (int i = 0; i < 8; ++i)
            value = value << 8 | next();
        return value;
    }
};

// Words per packet by message type, as the UMP standard lists them.
size_t wordCount(uint32_t word) {
    switch (word >> 28) {
    case 0x0:
    case 0x1:
    case 0x2:
    case 0x6:
    case 0x7:
        return 1;
    case 0x3:
    case 0x4:
    case 0x8:
    case 0x9:
    case 0xA:
        return 2;
    case 0xB:
    case 0xC:
        return 3;
    default:
        return 4;
    }
}

// One message as Push2Device::convert must give it for a whole packet, or nothing for the packets it
// skips. A type 2 packet whose status byte is not a channel status (80-EF) is no MIDI 1.0 channel
// voice message; `lenient` gives what passing it on anyway would look like.
std::optional<Bytes> expectedMessage(std::span<const uint32_t> packet, bool lenient) {
    const uint32_t word = packet[0];
    if (word >> 28 == 2) {
        const uint8_t status = uint8_t(word >> 16);
        if (!lenient && (status < 0x80 || status >= 0xF0)) return std::nullopt;
        const uint8_t kind = status & 0xF0;
        Bytes bytes{status, uint8_t((word >> 8) & 0x7F)};
        if (kind != 0xC0 && kind != 0xD0) bytes.push_back(uint8_t(word & 0x7F));
        return bytes;
    }
    if (word >> 28 == 3) {
        const uint32_t form = (word >> 20) & 0xF, length = std::min<uint32_t>(6, (word >> 16) & 0xF);
        const uint8_t data[6] = {uint8_t(word >> 8),       uint8_t(word),           uint8_t(packet[1] >> 24),
                                 uint8_t(packet[1] >> 16), uint8_t(packet[1] >> 8), uint8_t(packet[1])};
        Bytes bytes;
        if (form == 0 || form == 1) bytes.push_back(0xF0);
        for (uint32_t i = 0; i < length; ++i)
            bytes.push_back(data[i] & 0x7F);
        if (form == 0 || form == 3) bytes.push_back(0xF7);
        return bytes;
    }
    return std::nullopt;
}

std::vector<Push2Device::Incoming> expectedMessages(const MidiEventList& list, double scale, bool lenient) {
    std::vector<Push2Device::Incoming> out;
    for (const MidiEventPacket& packet : list) {
        std::optional<double> time;
        if (packet.timeStamp) time = double(packet.timeStamp) * scale;
        std::span<const uint32_t> words(packet.words);
        for (size_t i = 0; i < words.size();) {
            const size_t count = wordCount(words[i]);
            if (i + count > words.size()) break; // a cut-off packet ends the event packet
            if (auto bytes = expectedMessage(words.subspan(i, count), lenient))
                out.push_back({std::move(*bytes), time, packet.timeStamp});
            i += count;
        }
    }
    return out;
}

// Checks convert's output against a walk of the words: one message per whole channel voice (with a
// channel status) and SysEx packet, with that packet's bytes, time in seconds and host time stamp.
std::vector<Push2Device::Incoming> checkConvert(const MidiEventList& list, double scale) {
    const auto messages = Push2Device::convert(list, scale);
    const auto expected = expectedMessages(list, scale, false);
    if (messages != expected) {
        for (const MidiEventPacket& packet : list) {
            for (uint32_t word : packet.words) {
                const uint8_t status = uint8_t(word >> 16);
                if (word >> 28 == 2 && (status < 0x80 || status >= 0xF0))
                    std::fprintf(stderr, "\ndetail: type 2 word %08X\n", word);
            }
        }
        FUZZ_CHECK(messages != expectedMessages(list, scale, true),
                   "a type 2 packet without a channel status byte (80-EF) is passed on as a channel message");
        FUZZ_CHECK(messages == expected,
                   "convert gives one message per whole channel voice and SysEx packet");
    }
    return messages;
}

// A well-formed MIDI 1.0 stream and its canonical form: every status written out, real-time bytes
// moved in front of the message or SysEx block they interrupted, stray F7s gone.
struct Generated {
    Bytes stream, canonical, withoutSystem; // withoutSystem: canonical minus real-time and system common
};

Generated generate(Reader& in) {
    Generated out;
    uint8_t running = 0;
    auto realTime = [&](Bytes& before) {
        uint8_t byte = uint8_t(0xF8 + in.next() % 8);
        out.stream.push_back(byte);
        before.push_back(byte);
    };
    while (!in.done() && out.stream.size() < 4096) {
        const uint8_t op = in.next();
        Bytes moved, item; // real-time bytes that end up in front; the item's canonical bytes
        switch (op % 8) {
        case 0:
        case 1:
        case 2:
        case 3: {
            // Bit 3 reuses the running status, leaving the status byte out of the stream.
            const bool omit = (op & 0x08) && running;
            const uint8_t status = omit ? running : uint8_t(0x80 + in.next() % 0x70);
            if (!omit) out.stream.push_back(status);
            item.push_back(status);
            const uint8_t kind = status & 0xF0;
            const size_t data = (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
            for (size_t i = 0; i < data; ++i) {
                if (op & (0x10 << i)) realTime(moved);
                uint8_t byte = in.next() & 0x7F;
                out.stream.push_back(byte);
                item.push_back(byte);
            }
            running = status;
            break;
        }
        case 4:
            realTime(moved);
            break;
        case 5: {
            const size_t length = in.next() % 24;
            out.stream.push_back(0xF0);
            item.push_back(0xF0);
            for (size_t i = 0; i < length; ++i) {
                if ((op & 0x10) && i % 5 == 2) realTime(moved);
                uint8_t byte = in.next() & 0x7F;
                out.stream.push_back(byte);
                item.push_back(byte);
            }
            out.stream.push_back(0xF7);
            item.push_back(0xF7);
            running = 0;
            break;
        }
        case 6: {
            static const uint8_t commons[] = {0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6};
            static const size_t lengths[] = {1, 2, 1, 0, 0, 0};
            const size_t which = in.next() % 6;
            out.stream.push_back(commons[which]);
            Bytes common{commons[which]};
            for (size_t i = 0; i < lengths[which]; ++i) {
                uint8_t byte = in.next() & 0x7F;
                out.stream.push_back(byte);
                common.push_back(byte);
            }
            out.canonical.insert(out.canonical.end(), common.begin(), common.end());
            running = 0;
            break;
        }
        case 7:
            out.stream.push_back(0xF7); // outside a block it ends nothing, but cancels running status
            running = 0;
            break;
        }
        out.canonical.insert(out.canonical.end(), moved.begin(), moved.end());
        out.canonical.insert(out.canonical.end(), item.begin(), item.end());
        out.withoutSystem.insert(out.withoutSystem.end(), item.begin(), item.end());
    }
    return out;
}

void checkWords(const MidiEventPacket& packet) {
    const auto& words = packet.words;
    bool inSysEx = false;
    for (size_t i = 0; i < words.size();) {
        const uint32_t type = words[i] >> 28;
        FUZZ_CHECK(type == 1 || type == 2 || type == 3, "MIDI 1.0 bytes become packets of types 1, 2 and 3");
        FUZZ_CHECK(i + wordCount(words[i]) <= words.size(), "no packet is cut off");
        FUZZ_CHECK((words[i] >> 24 & 0xF) == 0, "everything goes to group 0");
        if (type == 2) {
            const uint8_t status = uint8_t(words[i] >> 16);
            FUZZ_CHECK(status >= 0x80 && status < 0xF0, "a type 2 packet holds a channel status");
        }
        if (type == 3) {
            const uint32_t form = words[i] >> 20 & 0xF, length = words[i] >> 16 & 0xF;
            FUZZ_CHECK(form <= 3 && length <= 6,
                       "SysEx pieces are complete, start, continue or end, of 0-6 bytes");
            FUZZ_CHECK((form == 0 || form == 1) != inSysEx, "SysEx pieces come in order");
            FUZZ_CHECK(form == 0 || form == 3 || length == 6, "only a block's last piece is short");
            inSysEx = form == 1 || form == 2;
        } else {
            FUZZ_CHECK(!inSysEx || type == 1, "only real-time packets come between SysEx pieces");
        }
        i += wordCount(words[i]);
    }
    FUZZ_CHECK(!inSysEx, "every SysEx block is finished");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    Reader in{std::span<const uint8_t>(data + 1, size - 1)};
    const uint8_t mode = data[0] % 3;

    if (mode == 0) {
        const uint64_t time = in.next() & 0x0F;
        const Generated made = generate(in);
        const MidiEventPacket packet = Ump::fromBytes(time, made.stream);
        FUZZ_CHECK(packet.timeStamp == time, "the time stamp is kept");
        checkWords(packet);
        FUZZ_CHECK(Ump::toBytes(packet) == made.canonical,
                   "bytes to packets and back give the stream with every status written out");
        Bytes seen;
        for (const auto& message : checkConvert(MidiEventList{packet}, 1e-9))
            seen.insert(seen.end(), message.bytes.begin(), message.bytes.end());
        FUZZ_CHECK(seen == made.withoutSystem,
                   "the Push device reads the stream's channel messages and SysEx");
    } else if (mode == 1) {
        const MidiEventPacket packet = Ump::fromBytes(7, in.bytes);
        checkWords(packet);
        const Bytes bytes = Ump::toBytes(packet);
        const MidiEventPacket again = Ump::fromBytes(7, bytes);
        FUZZ_CHECK(again == packet, "converting the converted bytes again gives the same packets");
        FUZZ_CHECK(Ump::toBytes(again) == bytes, "the converted bytes are a fixed point");
        checkConvert(MidiEventList{packet}, 1.0);
    } else {
        // Packets of raw words: [word count] [time stamp, 8 bytes] [words, 4 bytes each] ..., each
        // vector exactly as long as its packet so a read past it is a heap overflow.
        MidiEventList list;
        while (!in.done() && list.size() < 16) {
            const size_t count = in.next() % 12;
            const uint64_t time = in.next64();
            std::vector<uint32_t> words(count);
            for (uint32_t& word : words) {
                uint8_t raw[4] = {in.next(), in.next(), in.next(), in.next()};
                std::memcpy(&word, raw, 4);
            }
            list.push_back(MidiEventPacket{time, std::move(words)});
        }
        checkConvert(list, 1e-9);
        for (const MidiEventPacket& packet : list)
            (void)Ump::toBytes(packet);
    }
    return 0;
}
