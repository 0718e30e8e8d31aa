#pragma once

#include <algorithm>
#include <array>
#include <bitset>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

namespace tandem {

// A whole channel message of 2 or 3 bytes, status first, kept inline so that assembling and routing
// never allocate per message.
struct MidiMessage {
    std::array<uint8_t, 3> data{};
    uint8_t size = 0;

    MidiMessage() = default;
    MidiMessage(std::initializer_list<uint8_t> bytes) {
        for (uint8_t byte : bytes) {
            if (size < data.size()) data[size++] = byte;
        }
    }

    std::span<const uint8_t> bytes() const { return {data.data(), size}; }
    std::vector<uint8_t> toVector() const { return {data.begin(), data.begin() + size}; }
    uint8_t status() const { return size ? data[0] : 0; }

    bool operator==(const MidiMessage& other) const {
        return size == other.size && std::equal(data.begin(), data.begin() + size, other.data.begin());
    }
};

// A set of 7-bit note numbers without allocation.
class NoteSet {
public:
    bool contains(uint8_t note) const { return note < 128 && bits.test(note); }
    void insert(uint8_t note) {
        if (note < 128) bits.set(note);
    }
    // True when the note was present.
    bool erase(uint8_t note) {
        if (!contains(note)) return false;
        bits.reset(note);
        return true;
    }
    bool empty() const { return bits.none(); }
    size_t size() const { return bits.count(); }
    void clear() { bits.reset(); }
    template <class F> void forEach(F&& fn) const {
        for (unsigned note = 0; note < 128; ++note) {
            if (bits.test(note)) fn(static_cast<uint8_t>(note));
        }
    }
    bool operator==(const NoteSet&) const = default;

private:
    std::bitset<128> bits;
};

} // namespace tandem
