#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tandem {

// The Push 2's input, as the controller sees it.
struct Push2Event {
    enum class Kind { pad, pressure, channelPressure, encoder, encoderTouch, button, strip, stripTouch };
    Kind kind = Kind::pad;
    int index = 0;       // pad 0-63 (0 = bottom left), encoder 0-10, button CC
    int value = 0;       // velocity, pressure, encoder delta
    bool down = false;   // pad, encoderTouch, button, stripTouch
    double position = 0; // strip 0.0-1.0

    static Push2Event pad(int index, int velocity, bool down) {
        return {Kind::pad, index, velocity, down, 0};
    }
    static Push2Event pressure(int index, int value) { return {Kind::pressure, index, value, false, 0}; }
    static Push2Event channelPressure(int value) { return {Kind::channelPressure, 0, value, false, 0}; }
    static Push2Event encoder(int index, int delta) { return {Kind::encoder, index, delta, false, 0}; }
    static Push2Event encoderTouch(int index, bool down) { return {Kind::encoderTouch, index, 0, down, 0}; }
    static Push2Event button(int cc, bool down) { return {Kind::button, cc, 0, down, 0}; }
    static Push2Event strip(double position) { return {Kind::strip, 0, 0, false, position}; }
    static Push2Event stripTouch(bool down) { return {Kind::stripTouch, 0, 0, down, 0}; }

    bool operator==(const Push2Event&) const = default;
};

// The 26 palette slots Tandem writes into the Push, at palette indices 100-125.
enum class Push2Color : uint8_t {
    bankA = 100,
    bankB,
    bankC,
    bankD,
    dimA,
    dimB,
    dimC,
    dimD,
    selected,
    hit,
    target,
    chop,
    chopDim,
    accent,
    accentDim,
    keyOn,
    playDim,
    gridMark,
    koalaA,
    koalaB,
    koalaC,
    koalaD,
    koalaDimA,
    koalaDimB,
    koalaDimC,
    koalaDimD,
};

struct Push2RGB {
    uint8_t r = 0, g = 0, b = 0, w = 0;
    bool operator==(const Push2RGB&) const = default;
};

namespace Push2Palette {
// Every slot in order.
const std::array<Push2Color, 26>& allCases();
// The colour Tandem writes into a slot (white channel 0).
Push2RGB rgb(Push2Color color);
} // namespace Push2Palette

// The Push 2's System Exclusive messages and its input, byte by byte.
namespace Push2Protocol {

using Bytes = std::vector<uint8_t>;

inline constexpr std::array<uint8_t, 6> sysexHeader{0xF0, 0x00, 0x21, 0x1D, 0x01, 0x01};
inline constexpr uint8_t touchStripMode = 0x08; // the Push draws one point; position as pitch bend

Bytes sysex(uint8_t command, std::span<const uint8_t> arguments = {});
Bytes setMidiMode(bool user);
Bytes getTouchStripConfiguration();
Bytes setTouchStripConfiguration(uint8_t configuration);
Bytes getPaletteEntry(uint8_t index);
Bytes setPalette(uint8_t index, uint8_t r, uint8_t g, uint8_t b, uint8_t w);
Bytes reapplyPalette();

// The mode byte of the Push's answer to a set-MIDI-mode message (F0 … 0A mm F7).
std::optional<uint8_t> midiModeReply(std::span<const uint8_t> bytes);
// The configuration byte of a touch-strip configuration reply.
std::optional<uint8_t> touchStripConfigurationReply(std::span<const uint8_t> bytes);
struct PaletteEntry {
    uint8_t index;
    Push2RGB color;
    bool operator==(const PaletteEntry&) const = default;
};
std::optional<PaletteEntry> paletteReply(std::span<const uint8_t> bytes);

// The event a channel message means (the channel is ignored), if any.
std::optional<Push2Event> event(std::span<const uint8_t> bytes);

} // namespace Push2Protocol

} // namespace tandem
