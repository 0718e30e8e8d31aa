// The Push 2's replies and input: the protocol readers on arbitrary bytes.
//
// Input: arbitrary bytes. The readers see them whole and in 2- and 3-byte windows; the first six bytes
// also make a well-formed palette and strip reply that must read back exactly.
#include "FuzzSupport.h"

#include "tandem/push/Push2Protocol.h"

#include <algorithm>

namespace {

using fuzz::Bytes;
using tandem::Push2Event;
namespace Protocol = tandem::Push2Protocol;

bool hasHeader(std::span<const uint8_t> bytes) {
    static const uint8_t header[] = {0xF0, 0x00, 0x21, 0x1D, 0x01, 0x01};
    return bytes.size() >= 6 && std::equal(std::begin(header), std::end(header), bytes.begin());
}

void checkEvent(const Push2Event& event, std::span<const uint8_t> bytes) {
    using Kind = Push2Event::Kind;
    FUZZ_CHECK(bytes.size() >= 2, "an event needs a status and a data byte");
    const uint8_t kind = bytes[0] & 0xF0;
    switch (event.kind) {
    case Kind::pad:
        FUZZ_CHECK(kind == 0x80 || kind == 0x90, "pads come from notes");
        FUZZ_CHECK(event.index >= 0 && event.index <= 63, "a pad index is 0-63");
        FUZZ_CHECK(event.down == (event.value > 0), "a pad is down exactly when it has a velocity");
        break;
    case Kind::pressure:
        FUZZ_CHECK(kind == 0xA0, "pad pressure comes from polyphonic aftertouch");
        FUZZ_CHECK(event.index >= 0 && event.index <= 63, "a pressure's pad index is 0-63");
        break;
    case Kind::channelPressure:
        FUZZ_CHECK(kind == 0xD0, "channel pressure comes from channel aftertouch");
        break;
    case Kind::encoder:
        FUZZ_CHECK(kind == 0xB0, "encoders come from controllers");
        FUZZ_CHECK(event.index >= 0 && event.index <= 10, "an encoder index is 0-10");
        break;
    case Kind::encoderTouch:
        FUZZ_CHECK(kind == 0x80 || kind == 0x90, "encoder touches come from notes");
        FUZZ_CHECK(event.index >= 0 && event.index <= 10, "an encoder touch index is 0-10");
        break;
    case Kind::button:
        FUZZ_CHECK(kind == 0xB0, "buttons come from controllers");
        break;
    case Kind::strip:
        FUZZ_CHECK(kind == 0xE0, "the strip position comes from pitch bend");
        if (event.position < 0.0 || event.position > 1.0) {
            std::fprintf(stderr, "\ndetail: position %g from", event.position);
            for (uint8_t byte : bytes)
                std::fprintf(stderr, " %02X", byte);
            std::fprintf(stderr, "\n");
        }
        FUZZ_CHECK(event.position >= 0.0 && event.position <= 1.0, "a strip position is within [0, 1]");
        break;
    case Kind::stripTouch:
        FUZZ_CHECK(kind == 0x80 || kind == 0x90, "strip touches come from notes");
        break;
    }
}

// The stricter promises for a well-formed channel message (7-bit data).
void checkChannelEvent(const Push2Event& event) {
    using Kind = Push2Event::Kind;
    if (event.kind == Kind::pad) FUZZ_CHECK(event.value >= 0 && event.value <= 127, "a velocity is 0-127");
    if (event.kind == Kind::pressure || event.kind == Kind::channelPressure)
        FUZZ_CHECK(event.value >= 0 && event.value <= 127, "pressure is 0-127");
    if (event.kind == Kind::encoder)
        FUZZ_CHECK(event.value >= -64 && event.value <= 63, "an encoder delta is -64..63");
    if (event.kind == Kind::button)
        FUZZ_CHECK(event.index >= 0 && event.index <= 127, "a button is a controller 0-127");
}

void checkReaders(std::span<const uint8_t> bytes) {
    const bool palette = bytes.size() == 17 && hasHeader(bytes) && bytes[6] == 0x04 && bytes[16] == 0xF7;
    const auto entry = Protocol::paletteReply(bytes);
    FUZZ_CHECK(
        entry.has_value() == palette,
        "a palette reply is 17 bytes: the header, 04, the entry and F7 - and every such message is one");
    if (entry) FUZZ_CHECK(entry->index == bytes[7], "a palette reply's index is its seventh byte");

    const bool strip =
        bytes.size() == 9 && hasHeader(bytes) && bytes[6] == 0x18 && bytes[7] < 0x80 && bytes[8] == 0xF7;
    const auto configuration = Protocol::touchStripConfigurationReply(bytes);
    FUZZ_CHECK(
        configuration.has_value() == strip,
        "a strip reply is 9 bytes: the header, 18, a 7-bit value and F7 - and every such message is one");
    if (configuration) FUZZ_CHECK(*configuration == bytes[7], "a strip reply's value is its seventh byte");

    const bool mode =
        bytes.size() == 9 && hasHeader(bytes) && bytes[6] == 0x0A && bytes[7] < 0x80 && bytes[8] == 0xF7;
    const auto echoed = Protocol::midiModeReply(bytes);
    FUZZ_CHECK(echoed.has_value() == mode,
               "a mode echo is 9 bytes: the header, 0A, a 7-bit mode and F7 - and every such message is one");
    if (echoed) FUZZ_CHECK(*echoed == bytes[7], "a mode echo's value is its seventh byte");

    if (auto event = Protocol::event(bytes)) checkEvent(*event, bytes);
}

// Replies the Push would send for values taken from the input: they must read back exactly.
void checkReplies(std::span<const uint8_t> bytes) {
    uint8_t v[6] = {};
    for (size_t i = 0; i < 6 && i < bytes.size(); ++i)
        v[i] = bytes[i];
    Bytes reply = Protocol::setPalette(v[0], v[1], v[2], v[3], v[4]);
    FUZZ_CHECK(reply.size() == 17 && reply[6] == 0x03, "a palette write is 17 bytes with command 03");
    reply[6] = 0x04; // a palette entry reply carries the same fields as the write
    const auto entry = Protocol::paletteReply(reply);
    FUZZ_CHECK(entry && entry->index == (v[0] & 0x7F) &&
                   entry->color == (tandem::Push2RGB{v[1], v[2], v[3], v[4]}),
               "a palette reply gives back every 8-bit channel it carries");

    Bytes strip = Protocol::setTouchStripConfiguration(v[5]);
    FUZZ_CHECK(strip.size() == 9 && strip[6] == 0x17, "a strip write is 9 bytes with command 17");
    strip[6] = 0x18;
    FUZZ_CHECK(Protocol::touchStripConfigurationReply(strip) == uint8_t(v[5] & 0x7F),
               "a strip reply gives back its configuration");
    const bool user = v[5] & 0x80;
    FUZZ_CHECK(Protocol::midiModeReply(Protocol::setMidiMode(user)) == uint8_t(user ? 1 : 0),
               "the Push's echo of a mode change reads back as that mode");
    FUZZ_CHECK(!Protocol::paletteReply(Protocol::getPaletteEntry(v[0])) &&
                   !Protocol::touchStripConfigurationReply(Protocol::getTouchStripConfiguration()),
               "Tandem's own requests are not replies");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    checkReaders(bytes);
    for (size_t i = 0; i + 2 <= bytes.size(); ++i) {
        for (size_t length : {2, 3}) {
            if (i + length > bytes.size()) continue;
            std::span<const uint8_t> window = bytes.subspan(i, length);
            checkReaders(window);
            // The same message with its data bytes made 7-bit, as convert hands them over.
            Bytes clean(window.begin(), window.end());
            for (size_t d = 1; d < clean.size(); ++d)
                clean[d] &= 0x7F;
            if (auto event = Protocol::event(clean)) {
                checkEvent(*event, clean);
                checkChannelEvent(*event);
            }
        }
    }
    checkReplies(bytes);
    return 0;
}
