#pragma once

#include "base/MidiMessage.h"
#include "tandem/mpc/Stream.h"
#include "tandem/profiles/KoalaKey.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace tandem {

// Which MPC Touch endpoint a message came from.
enum class Role { publicControl, privateSelector };

// Maps the MPC's 16 pad notes through a bank to Koala's pad notes, remembering what each held pad
// started so that its release ends the same note whatever the bank is by then.
struct KoalaPadMapper {
    // The MPC's pad notes on channel 10, in pad order 1-16.
    static constexpr std::array<uint8_t, 16> physicalPadOrder{37, 36, 42, 82, 40, 38, 46, 44,
                                                              48, 47, 45, 43, 49, 55, 51, 53};

    // MPC pad note → the Koala note it started (0 = not held).
    std::array<uint8_t, 128> heldNotes{};

    // The pad's position 0-15, or nothing for a note that is not a pad.
    static std::optional<int> position(uint8_t note);
    // The Koala note for a press, or nothing for a bank above 3, a non-pad note or a pad already held.
    std::optional<uint8_t> noteOn(uint8_t note, int bank, bool chopperMode);
    // The note the pad started, if it was held.
    std::optional<uint8_t> noteOff(uint8_t note);
    std::optional<uint8_t> held(uint8_t note) const;
    bool empty() const;

    static bool offlineSelfCheck();
};

// Decides what each whole MIDI message from the MPC Touch means for Koala. A plain value: no clock,
// no I/O, so every rule runs without a MIDI system.
class KoalaControlRouter {
public:
    struct Event {
        enum class Kind { midi, padBank, qlinkBank, chopperMode, fullLevel };
        Kind kind = Kind::midi;
        MidiMessage message; // midi
        int value = 0;       // padBank, qlinkBank; 0/1 for the modes

        static Event midi(MidiMessage message) { return {Kind::midi, message, 0}; }
        static Event padBank(int bank) { return {Kind::padBank, {}, bank}; }
        static Event qlinkBank(int bank) { return {Kind::qlinkBank, {}, bank}; }
        static Event chopperMode(bool on) { return {Kind::chopperMode, {}, on ? 1 : 0}; }
        static Event fullLevel(bool on) { return {Kind::fullLevel, {}, on ? 1 : 0}; }

        bool operator==(const Event&) const = default;
    };
    using Events = std::vector<Event>;

    // Decodes one chunk with the endpoint's stream and routes every message it completes.
    Events consume(std::span<const uint8_t> bytes, uint32_t source, Role role, bool routing);
    void consume(std::span<const uint8_t> bytes, uint32_t source, Role role, bool routing, Events& out);

    // The hold time of a selector pressed earlier has elapsed.
    Events holdElapsed(uint8_t note);
    // Releases every pad, Q-Link, button and solo still held on the Koala side.
    Events releaseHeld();
    Events setChopperMode(bool on);

    // The fixed router cases: packed, split and running-status input, a long SysEx, selectors held
    // apart on Public and Private, Q-Link bank and contact capture.
    static bool offlineSelfCheck();

    // The effect each bank-D Q-Link (13-16) controls, as an index into the effect names.
    static const std::array<std::optional<int>, 4>& bankDEffects();
    // The Koala key that solos mixer bus i + 1 (i = 0-3).
    static const KoalaKey& soloKey(int i);

    std::vector<std::pair<uint32_t, Stream>> streams;
    KoalaPadMapper pads;
    std::array<std::optional<uint8_t>, 4> heldLinks;
    NoteSet heldButtons;
    int padBank = 0;
    int qlinkBank = 0;
    NoteSet soloSelectors;
    NoteSet pendingHolds;
    NoteSet holdSolos;
    std::vector<uint8_t> newHolds;
    std::array<std::optional<uint8_t>, 4> knobRaw;
    std::array<std::optional<int>, 16> fxAmounts;
    bool chopperMode = false;
    bool fullLevel = false;
    int sampleBank = 0;

private:
    void process(const MidiMessage& message, Stream& stream, Role role, bool routing, Events& out);
    void selector(uint8_t note, bool press, Stream& stream, bool routing, Events& out);
    void sharedButton(uint8_t note, uint8_t velocity, bool press, Stream& stream, bool routing, Events& out);
    void fullLevelButton(uint8_t note, bool press, Stream& stream, bool routing, Events& out);
    void qlinkTouch(uint8_t note, uint8_t velocity, bool press, Events& out);
    void qlinkTurn(uint8_t controller, uint8_t value, Events& out);
    void pad(const MidiMessage& message, bool press, bool release, Events& out);
    void tap(const KoalaKey& key, Events& out) const;
    bool anySelector(uint8_t note) const;
    bool anyButton(uint8_t note) const;
    Stream& stream(uint32_t source);
};

} // namespace tandem
