#include "tandem/mpc/KoalaControlRouter.h"

#include "tandem/profiles/KoalaMap.h"

#include <algorithm>

namespace tandem {

namespace {

using Event = KoalaControlRouter::Event;
using Events = KoalaControlRouter::Events;

// Buttons forwarded on channel 15; their held state is shared by both endpoints.
constexpr std::array<uint8_t, 10> buttonNotes{49, 73, 81, 82, 83, 111, 40, 53, 11, 9};
constexpr uint8_t soloModifier = 49;
constexpr uint8_t chopperButton = 40;
constexpr uint8_t fullLevelNote = 39;

bool isButton(uint8_t note) {
    return std::find(buttonNotes.begin(), buttonNotes.end(), note) != buttonNotes.end();
}
bool isBankSelector(uint8_t note) {
    return note >= 35 && note <= 38;
}
bool isSelector(uint8_t note) {
    return note == 0 || isBankSelector(note);
}

} // namespace

std::optional<int> KoalaPadMapper::position(uint8_t note) {
    auto found = std::find(physicalPadOrder.begin(), physicalPadOrder.end(), note);
    if (found == physicalPadOrder.end()) return std::nullopt;
    return static_cast<int>(found - physicalPadOrder.begin());
}

std::optional<uint8_t> KoalaPadMapper::noteOn(uint8_t note, int bank, bool chopperMode) {
    if (bank < 0 || bank > 3 || note > 127 || heldNotes[note]) return std::nullopt;
    auto at = position(note);
    if (!at) return std::nullopt;
    uint8_t koala = static_cast<uint8_t>((chopperMode ? 60 : 36) + 16 * bank + *at);
    heldNotes[note] = koala;
    return koala;
}

std::optional<uint8_t> KoalaPadMapper::noteOff(uint8_t note) {
    auto started = held(note);
    if (started) heldNotes[note] = 0;
    return started;
}

std::optional<uint8_t> KoalaPadMapper::held(uint8_t note) const {
    if (note > 127 || !heldNotes[note]) return std::nullopt;
    return heldNotes[note];
}

bool KoalaPadMapper::empty() const {
    return std::all_of(heldNotes.begin(), heldNotes.end(), [](uint8_t note) { return note == 0; });
}

bool KoalaPadMapper::offlineSelfCheck() {
    KoalaPadMapper mapper;
    for (int bank = 0; bank < 4; ++bank) {
        for (int at = 0; at < 16; ++at) {
            uint8_t note = physicalPadOrder[at];
            if (mapper.noteOn(note, bank, false) != 36 + 16 * bank + at) return false;
            if (mapper.noteOff(note) != 36 + 16 * bank + at) return false;
        }
    }
    if (mapper.noteOn(37, 0, false) != 36) return false;
    if (mapper.noteOn(37, 1, false)) return false; // duplicate note suppression
    if (mapper.noteOff(37) != 36) return false;    // held release across a bank change
    return mapper.empty() && !mapper.noteOn(37, 4, false) && !mapper.noteOn(39, 0, false);
}

const std::array<std::optional<int>, 4>& KoalaControlRouter::bankDEffects() {
    static const std::array<std::optional<int>, 4> effects = [] {
        std::array<std::optional<int>, 4> found;
        const char* names[] = {"STUTTER", "TALKBOX", "FILTER", "CUTTER"};
        const auto& list = KoalaPushProfile::fxNames();
        for (size_t i = 0; i < found.size(); ++i) {
            auto at = std::find(list.begin(), list.end(), names[i]);
            if (at != list.end()) found[i] = static_cast<int>(at - list.begin());
        }
        return found;
    }();
    return effects;
}

const KoalaKey& KoalaControlRouter::soloKey(int i) {
    static const std::array<KoalaKey, 4> keys = [] {
        std::array<KoalaKey, 4> found{};
        for (int bus = 0; bus < 4; ++bus) {
            std::string address = "/mixer/channels/" + std::to_string(bus + 1) + "/solo/toggle";
            for (const auto& [entry, key] : KoalaPushProfile::defaults()) {
                if (entry == address) found[bus] = key;
            }
        }
        return found;
    }();
    return keys[std::clamp(i, 0, 3)];
}

Stream& KoalaControlRouter::stream(uint32_t source) {
    for (auto& [endpoint, state] : streams) {
        if (endpoint == source) return state;
    }
    streams.emplace_back(source, Stream{});
    return streams.back().second;
}

bool KoalaControlRouter::anySelector(uint8_t note) const {
    return std::any_of(streams.begin(), streams.end(),
                       [&](auto& entry) { return entry.second.selectors.contains(note); });
}

bool KoalaControlRouter::anyButton(uint8_t note) const {
    return std::any_of(streams.begin(), streams.end(),
                       [&](auto& entry) { return entry.second.buttons.contains(note); });
}

Events KoalaControlRouter::consume(std::span<const uint8_t> bytes, uint32_t source, Role role, bool routing) {
    Events out;
    consume(bytes, source, role, routing, out);
    return out;
}

void KoalaControlRouter::consume(std::span<const uint8_t> bytes, uint32_t source, Role role, bool routing,
                                 Events& out) {
    thread_local std::vector<MidiMessage> messages;
    messages.clear();
    Stream& endpoint = stream(source);
    endpoint.decode(bytes, messages);
    for (const MidiMessage& message : messages)
        process(message, endpoint, role, routing, out);
}

void KoalaControlRouter::tap(const KoalaKey& key, Events& out) const {
    if (auto down = key.press(true, 127)) out.push_back(Event::midi(*down));
    if (auto up = key.press(false)) out.push_back(Event::midi(*up));
}

void KoalaControlRouter::process(const MidiMessage& message, Stream& endpoint, Role role, bool routing,
                                 Events& out) {
    const uint8_t kind = message.data[0] & 0xF0;
    const int channel = (message.data[0] & 0x0F) + 1;
    const uint8_t d1 = message.data[1];
    const uint8_t d2 = message.size == 3 ? message.data[2] : 0;
    const bool isNote = kind == 0x90 || kind == 0x80;
    const bool press = kind == 0x90 && d2 > 0;
    const bool release = isNote && !press;

    if (role == Role::privateSelector) {
        if (channel != 1 || !isNote || d1 == fullLevelNote || d1 == chopperButton) return;
        if (isSelector(d1)) return selector(d1, press, endpoint, routing, out);
        if (isButton(d1)) return sharedButton(d1, d2, press, endpoint, routing, out);
        return;
    }

    if (channel == 1 && isNote) {
        if (isSelector(d1)) return selector(d1, press, endpoint, routing, out);
        if (d1 == fullLevelNote) return fullLevelButton(d1, press, endpoint, routing, out);
        if (isButton(d1)) return sharedButton(d1, d2, press, endpoint, routing, out);
        if (d1 >= 84 && d1 <= 87) {
            if (routing) qlinkTouch(d1, d2, press, out);
            return;
        }
    }
    if (channel == 1 && kind == 0xB0 && d1 >= 16 && d1 <= 19) {
        // The raw value is kept even while routing is off, so that the first turn afterwards moves an
        // effect amount by that turn alone rather than by everything the knob did meanwhile.
        if (routing) {
            qlinkTurn(d1, d2, out);
        } else {
            knobRaw[d1 - 16] = d2;
        }
        return;
    }
    if (channel == 10 && KoalaPadMapper::position(d1)) {
        if (routing) pad(message, press, release, out);
        return;
    }
    if (!routing) return;
    if (isNote) {
        out.push_back(Event::midi(press ? MidiMessage{0x9E, d1, d2} : MidiMessage{0x8E, d1, 0x00}));
        return;
    }
    MidiMessage passed = message;
    passed.data[0] = static_cast<uint8_t>(kind | 0x0E);
    out.push_back(Event::midi(passed));
}

void KoalaControlRouter::selector(uint8_t note, bool press, Stream& endpoint, bool routing, Events& out) {
    const bool wasHeld = anySelector(note);
    if (press) {
        endpoint.selectors.insert(note);
    } else {
        endpoint.selectors.erase(note);
    }
    if (!press) {
        if (!isBankSelector(note) || anySelector(note)) return;
        pendingHolds.erase(note);
        const KoalaKey& key = soloKey(note - 35);
        if (holdSolos.erase(note)) {
            tap(key, out); // the bus solo toggles back
        } else if (soloSelectors.erase(note)) {
            if (auto up = key.press(false)) out.push_back(Event::midi(*up));
        }
        return;
    }
    if (wasHeld) return; // already down on the other endpoint
    if (note == 0) {
        qlinkBank = (qlinkBank + 1) % 4;
        out.push_back(Event::qlinkBank(qlinkBank));
        return;
    }
    if (routing) {
        if (heldButtons.contains(soloModifier)) {
            soloSelectors.insert(note);
            if (auto down = soloKey(note - 35).press(true, 127)) out.push_back(Event::midi(*down));
            return;
        }
        pendingHolds.insert(note);
        newHolds.push_back(note);
    }
    padBank = note - 35;
    if (!chopperMode) sampleBank = padBank;
    out.push_back(Event::padBank(padBank));
}

void KoalaControlRouter::sharedButton(uint8_t note, uint8_t velocity, bool press, Stream& endpoint,
                                      bool routing, Events& out) {
    const bool wasHeld = anyButton(note);
    if (press) {
        endpoint.buttons.insert(note);
    } else {
        endpoint.buttons.erase(note);
    }
    const bool nowHeld = anyButton(note);
    if (!routing || wasHeld == nowHeld) return;
    if (nowHeld) {
        heldButtons.insert(note);
        out.push_back(Event::midi({0x9E, note, velocity}));
        if (note == chopperButton) {
            Events changed = setChopperMode(!chopperMode);
            out.insert(out.end(), changed.begin(), changed.end());
        }
        return;
    }
    if (heldButtons.erase(note)) out.push_back(Event::midi({0x8E, note, 0x00}));
}

void KoalaControlRouter::fullLevelButton(uint8_t note, bool press, Stream& endpoint, bool routing,
                                         Events& out) {
    const bool wasHeld = anyButton(note);
    if (press) {
        endpoint.buttons.insert(note);
    } else {
        endpoint.buttons.erase(note);
    }
    if (!wasHeld && anyButton(note) && routing) {
        fullLevel = !fullLevel;
        out.push_back(Event::fullLevel(fullLevel));
    }
}

void KoalaControlRouter::qlinkTouch(uint8_t note, uint8_t velocity, bool press, Events& out) {
    const int i = note - 84;
    if (press) {
        if (heldLinks[i]) return;
        uint8_t link = static_cast<uint8_t>(84 + 4 * qlinkBank + i);
        heldLinks[i] = link;
        out.push_back(Event::midi({0x9E, link, velocity}));
        return;
    }
    if (auto link = std::exchange(heldLinks[i], std::nullopt))
        out.push_back(Event::midi({0x8E, *link, 0x00}));
}

void KoalaControlRouter::qlinkTurn(uint8_t controller, uint8_t value, Events& out) {
    const int i = controller - 16;
    // Contact capture: a touched encoder keeps controlling the bank it was touched in.
    const int link = heldLinks[i] ? *heldLinks[i] - 84 : 4 * qlinkBank + i;
    const int previous = knobRaw[i].value_or(value);
    knobRaw[i] = value;
    if (link >= 12) {
        if (auto effect = bankDEffects()[link - 12]) {
            const int amount = fxAmounts[*effect].value_or(0);
            int next = value == 0     ? 0
                       : value == 127 ? 127
                                      : std::clamp(amount + 4 * (value - previous), 0, 127);
            if (next == amount) return;
            fxAmounts[*effect] = next;
            out.push_back(
                Event::midi({0xBD, static_cast<uint8_t>(23 + *effect), static_cast<uint8_t>(next)}));
            return;
        }
    }
    out.push_back(Event::midi({0xBE, static_cast<uint8_t>(link + 1), value}));
}

void KoalaControlRouter::pad(const MidiMessage& message, bool press, bool release, Events& out) {
    const uint8_t kind = message.data[0] & 0xF0;
    const uint8_t note = message.data[1];
    const uint8_t value = message.size == 3 ? message.data[2] : 0;
    if (press) {
        if (auto koala = pads.noteOn(note, padBank, chopperMode)) {
            out.push_back(Event::midi({0x9F, *koala, fullLevel ? uint8_t(127) : value}));
        }
    } else if (release) {
        if (auto koala = pads.noteOff(note)) out.push_back(Event::midi({0x8F, *koala, value}));
    } else if (kind == 0xA0) {
        if (auto koala = pads.held(note)) out.push_back(Event::midi({0xAF, *koala, value}));
    }
}

Events KoalaControlRouter::holdElapsed(uint8_t note) {
    Events out;
    if (!pendingHolds.erase(note) || !anySelector(note) || !isBankSelector(note)) return out;
    holdSolos.insert(note);
    tap(soloKey(note - 35), out);
    return out;
}

Events KoalaControlRouter::releaseHeld() {
    Events out;
    for (uint8_t note = 0; note < 128; ++note) {
        if (auto koala = pads.noteOff(note)) out.push_back(Event::midi({0x8F, *koala, 0x00}));
    }
    for (auto& link : heldLinks) {
        if (link) out.push_back(Event::midi({0x8E, *std::exchange(link, std::nullopt), 0x00}));
    }
    heldButtons.forEach([&](uint8_t note) { out.push_back(Event::midi({0x8E, note, 0x00})); });
    holdSolos.forEach([&](uint8_t note) { tap(soloKey(note - 35), out); });
    soloSelectors.forEach([&](uint8_t note) {
        if (auto up = soloKey(note - 35).press(false)) out.push_back(Event::midi(*up));
    });
    heldButtons.clear();
    holdSolos.clear();
    soloSelectors.clear();
    pendingHolds.clear();
    return out;
}

Events KoalaControlRouter::setChopperMode(bool on) {
    if (chopperMode == on) return {};
    chopperMode = on;
    padBank = on ? 0 : sampleBank;
    return {Event::chopperMode(on), Event::padBank(padBank)};
}

bool KoalaControlRouter::offlineSelfCheck() {
    using Bytes = std::vector<uint8_t>;
    constexpr uint32_t publicSource = 1, privateSource = 2;
    auto midi = [](std::initializer_list<uint8_t> bytes) { return Event::midi(MidiMessage(bytes)); };

    // Packed messages on Private, a message split across chunks with a clock byte inside, then the
    // pad keeps the note of the bank it started in.
    KoalaControlRouter router;
    if (router.consume(Bytes{0x90, 0x24, 0x7F, 0x80, 0x24, 0x00}, privateSource, Role::privateSelector,
                       true) != Events{Event::padBank(1)})
        return false;
    if (!router.consume(Bytes{0x99, 0x25}, publicSource, Role::publicControl, true).empty()) return false;
    if (router.consume(Bytes{0x64, 0xF8}, publicSource, Role::publicControl, true) !=
        Events{midi({0x9F, 0x34, 0x64})})
        return false;
    if (router.consume(Bytes{0x90, 0x25, 0x7F, 0x80, 0x25, 0x00}, privateSource, Role::privateSelector,
                       true) != Events{Event::padBank(2)})
        return false;
    if (!router.consume(Bytes{0x89, 0x25, 0x00}, privateSource, Role::privateSelector, true).empty())
        return false;
    if (router.consume(Bytes{0xA9, 0x25, 0x46, 0x89, 0x25, 0x00}, publicSource, Role::publicControl, true) !=
        Events{midi({0xAF, 0x34, 0x46}), midi({0x8F, 0x34, 0x00})})
        return false;

    // Running status after a long SysEx split over chunks.
    KoalaControlRouter sysEx;
    Bytes block(602, 0x47);
    block.front() = 0xF0;
    if (!sysEx.consume(block, publicSource, Role::publicControl, true).empty()) return false;
    if (sysEx.consume(Bytes{0xF7, 0x99, 0x25, 0x64, 0x24, 0x5A}, publicSource, Role::publicControl, true) !=
        Events{midi({0x9F, 0x24, 0x64}), midi({0x9F, 0x25, 0x5A})})
        return false;

    // The Q-Link bank selector held on either endpoint, then contact capture.
    KoalaControlRouter links;
    auto publicBytes = [&](Bytes bytes) {
        return links.consume(bytes, publicSource, Role::publicControl, true);
    };
    if (publicBytes({0x90, 0x00, 0x7F}) != Events{Event::qlinkBank(1)}) return false;
    if (!links.consume(Bytes{0x90, 0x00, 0x7F}, privateSource, Role::privateSelector, true).empty())
        return false;
    links.consume(Bytes{0x80, 0x00, 0x00}, privateSource, Role::privateSelector, true);
    if (!publicBytes({0x90, 0x00, 0x7F}).empty()) return false; // still held on Public
    publicBytes({0x80, 0x00, 0x00});
    if (publicBytes({0x90, 0x00, 0x7F}) != Events{Event::qlinkBank(2)}) return false;
    publicBytes({0x80, 0x00, 0x00});
    if (publicBytes({0x90, 0x54, 0x7F}) != Events{midi({0x9E, 0x5C, 0x7F})}) return false;
    if (publicBytes({0x90, 0x00, 0x7F, 0x80, 0x00, 0x00}) != Events{Event::qlinkBank(3)}) return false;
    if (publicBytes({0xB0, 0x10, 0x2A}) != Events{midi({0xBE, 0x09, 0x2A})}) return false;
    if (publicBytes({0x80, 0x54, 0x00}) != Events{midi({0x8E, 0x5C, 0x00})}) return false;
    if (publicBytes({0xB0, 0x10, 0x46}) != Events{midi({0xBD, 0x1C, 0x70})}) return false;
    if (publicBytes({0xB0, 0x10, 0x3C}) != Events{midi({0xBD, 0x1C, 0x48})}) return false;
    if (publicBytes({0xB0, 0x10, 0x00}) != Events{midi({0xBD, 0x1C, 0x00})}) return false;
    return publicBytes({0xB0, 0x10, 0x00}).empty();
}

} // namespace tandem
