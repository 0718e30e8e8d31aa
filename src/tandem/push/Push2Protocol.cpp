#include "tandem/push/Push2Protocol.h"

#include <algorithm>

namespace tandem {

namespace Push2Palette {

const std::array<Push2Color, 26>& allCases() {
    static const std::array<Push2Color, 26> cases = [] {
        std::array<Push2Color, 26> list{};
        for (size_t i = 0; i < list.size(); ++i)
            list[i] = static_cast<Push2Color>(100 + i);
        return list;
    }();
    return cases;
}

Push2RGB rgb(Push2Color color) {
    constexpr Push2RGB koalaBlue{0, 203, 234}, dim{0, 27, 31}, pink{255, 40, 99}, white{255, 255, 255};
    switch (color) {
    case Push2Color::bankA:
    case Push2Color::bankB:
    case Push2Color::bankC:
    case Push2Color::bankD:
    case Push2Color::target:
    case Push2Color::chop:
    case Push2Color::koalaA:
    case Push2Color::koalaB:
    case Push2Color::koalaC:
    case Push2Color::koalaD:
        return koalaBlue;
    case Push2Color::dimA:
    case Push2Color::dimB:
    case Push2Color::dimC:
    case Push2Color::dimD:
    case Push2Color::chopDim:
    case Push2Color::playDim:
    case Push2Color::koalaDimA:
    case Push2Color::koalaDimB:
    case Push2Color::koalaDimC:
    case Push2Color::koalaDimD:
        return dim;
    case Push2Color::selected:
    case Push2Color::accent:
        return pink;
    case Push2Color::hit:
    case Push2Color::keyOn:
        return white;
    case Push2Color::accentDim:
        return {35, 5, 13};
    case Push2Color::gridMark:
        return {45, 39, 39};
    }
    return {};
}

} // namespace Push2Palette

namespace Push2Protocol {

Bytes sysex(uint8_t command, std::span<const uint8_t> arguments) {
    Bytes bytes(sysexHeader.begin(), sysexHeader.end());
    bytes.push_back(command);
    bytes.insert(bytes.end(), arguments.begin(), arguments.end());
    bytes.push_back(0xF7);
    return bytes;
}

Bytes setMidiMode(bool user) {
    const uint8_t mode[] = {uint8_t(user ? 0x01 : 0x00)};
    return sysex(0x0A, mode);
}

Bytes getTouchStripConfiguration() {
    return sysex(0x18);
}

Bytes setTouchStripConfiguration(uint8_t configuration) {
    const uint8_t argument[] = {uint8_t(configuration & 0x7F)};
    return sysex(0x17, argument);
}

Bytes getPaletteEntry(uint8_t index) {
    const uint8_t argument[] = {uint8_t(index & 0x7F)};
    return sysex(0x04, argument);
}

Bytes setPalette(uint8_t index, uint8_t r, uint8_t g, uint8_t b, uint8_t w) {
    const uint8_t arguments[] = {uint8_t(index & 0x7F), uint8_t(r & 0x7F), uint8_t(r >> 7),
                                 uint8_t(g & 0x7F),     uint8_t(g >> 7),   uint8_t(b & 0x7F),
                                 uint8_t(b >> 7),       uint8_t(w & 0x7F), uint8_t(w >> 7)};
    return sysex(0x03, arguments);
}

Bytes reapplyPalette() {
    return sysex(0x05);
}

namespace {

bool hasHeader(std::span<const uint8_t> bytes) {
    return bytes.size() >= sysexHeader.size() &&
           std::equal(sysexHeader.begin(), sysexHeader.end(), bytes.begin());
}

} // namespace

std::optional<uint8_t> midiModeReply(std::span<const uint8_t> bytes) {
    if (bytes.size() != 9 || !hasHeader(bytes) || bytes[6] != 0x0A || bytes[7] >= 0x80 || bytes[8] != 0xF7) {
        return std::nullopt;
    }
    return bytes[7];
}

std::optional<uint8_t> touchStripConfigurationReply(std::span<const uint8_t> bytes) {
    if (bytes.size() != 9 || !hasHeader(bytes) || bytes[6] != 0x18 || bytes[7] >= 0x80 || bytes[8] != 0xF7) {
        return std::nullopt;
    }
    return bytes[7];
}

std::optional<PaletteEntry> paletteReply(std::span<const uint8_t> bytes) {
    if (bytes.size() != sysexHeader.size() + 11 || !hasHeader(bytes) || bytes[6] != 0x04 ||
        bytes.back() != 0xF7) {
        return std::nullopt;
    }
    auto channel = [&](size_t at) { return uint8_t((bytes[at] | bytes[at + 1] << 7) & 0xFF); };
    return PaletteEntry{bytes[7],
                        {channel(8), channel(10), channel(12), uint8_t(bytes[14] | (bytes[15] & 1) << 7)}};
}

std::optional<Push2Event> event(std::span<const uint8_t> bytes) {
    if (bytes.size() < 2) return std::nullopt;
    // A data byte with its high bit set is a status, not data: such a message means nothing.
    if (bytes[1] > 0x7F || (bytes.size() > 2 && bytes[2] > 0x7F)) return std::nullopt;
    const uint8_t kind = bytes[0] & 0xF0;
    const uint8_t d1 = bytes[1];
    const uint8_t d2 = bytes.size() > 2 ? bytes[2] : 0;
    auto delta = [](uint8_t value) { return value < 64 ? int(value) : int(value) - 128; };
    switch (kind) {
    case 0x90:
    case 0x80: {
        const bool down = kind == 0x90 && d2 > 0;
        if (d1 >= 36 && d1 <= 99) return Push2Event::pad(d1 - 36, down ? d2 : 0, down);
        if (d1 <= 7) return Push2Event::encoderTouch(d1, down);
        if (d1 >= 8 && d1 <= 10) return Push2Event::encoderTouch(18 - d1, down); // 8 → 10, 9 → 9, 10 → 8
        if (d1 == 12) return Push2Event::stripTouch(down);
        return std::nullopt;
    }
    case 0xA0:
        if (d1 >= 36 && d1 <= 99) return Push2Event::pressure(d1 - 36, d2);
        return std::nullopt;
    case 0xB0:
        if (d1 >= 71 && d1 <= 78) return Push2Event::encoder(d1 - 71, delta(d2));
        if (d1 == 79) return Push2Event::encoder(10, delta(d2));
        if (d1 == 15) return Push2Event::encoder(9, delta(d2));
        if (d1 == 14) return Push2Event::encoder(8, delta(d2));
        return Push2Event::button(d1, d2 != 0);
    case 0xD0:
        return Push2Event::channelPressure(d1);
    case 0xE0:
        return Push2Event::strip(double(d1 | d2 << 7) / 16383.0);
    default:
        return std::nullopt;
    }
}

} // namespace Push2Protocol

} // namespace tandem
