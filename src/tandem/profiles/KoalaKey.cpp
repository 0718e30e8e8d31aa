#include "tandem/profiles/KoalaKey.h"

#include <algorithm>

namespace tandem {

namespace {

uint8_t clamp(int64_t value, int64_t low, int64_t high) {
    return static_cast<uint8_t>(std::clamp(value, low, high));
}

} // namespace

std::optional<MidiMessage> KoalaKey::press(bool down, int velocity) const {
    uint8_t channelBits = clamp(channel, 1, 16) - 1;
    uint8_t number = clamp(value, 0, 127);
    if (type == "note") {
        if (!down) return MidiMessage{uint8_t(0x80 | channelBits), number, 0};
        return MidiMessage{uint8_t(0x90 | channelBits), number, clamp(velocity, 1, 127)};
    }
    if (type == "cc") return MidiMessage{uint8_t(0xB0 | channelBits), number, uint8_t(down ? 127 : 0)};
    return std::nullopt;
}

std::optional<MidiMessage> KoalaKey::set(int amount) const {
    if (type != "cc") return std::nullopt;
    return MidiMessage{uint8_t(0xB0 | (clamp(channel, 1, 16) - 1)), clamp(value, 0, 127),
                       clamp(amount, 0, 127)};
}

Json::Value KoalaKey::json() const {
    return Json::Value{{"channel", channel}, {"type", type}, {"value", value}};
}

} // namespace tandem
