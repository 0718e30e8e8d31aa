#pragma once

#include "base/Json.h"
#include "base/MidiMessage.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace tandem {

// A key of Koala's MIDI map: a 1-based channel, "note" or "cc", and the note or controller number.
struct KoalaKey {
    int64_t channel = 0;
    std::string type;
    int64_t value = 0;

    bool operator==(const KoalaKey&) const = default;

    // The message that presses (down) or releases the key. Notes go out with velocity at least 1
    // (Koala would read 0 as a release); controllers go to 127 or 0. Other types give nothing.
    std::optional<MidiMessage> press(bool down, int velocity = 127) const;
    // A controller key set to a value (clamped to 0-127); other types give nothing.
    std::optional<MidiMessage> set(int value) const;

    // {"channel", "type", "value"} as Koala's map stores a key.
    Json::Value json() const;
};

struct KoalaKeyHash {
    size_t operator()(const KoalaKey& key) const {
        size_t hash = std::hash<int64_t>{}(key.channel);
        hash = hash * 1000003 ^ std::hash<std::string>{}(key.type);
        return hash * 1000003 ^ std::hash<int64_t>{}(key.value);
    }
};

} // namespace tandem
