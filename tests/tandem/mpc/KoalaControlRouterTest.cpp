#include "tandem/mpc/KoalaControlRouter.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

namespace tandem {
namespace {

using Event = KoalaControlRouter::Event;
using Events = KoalaControlRouter::Events;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t publicSource = 1, privateSource = 2;

Event midi(std::initializer_list<uint8_t> bytes) {
    return Event::midi(MidiMessage(bytes));
}

struct Step {
    uint32_t source;
    Bytes bytes;
    Events expected;
    bool routing = true;
};

void run(KoalaControlRouter& router, const std::vector<Step>& steps, const char* name) {
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        Role role = step.source == publicSource ? Role::publicControl : Role::privateSelector;
        EXPECT_EQ(router.consume(step.bytes, step.source, role, step.routing), step.expected)
            << name << ", step " << i;
    }
}

TEST(KoalaControlRouter, RoutesTheMpcsMessagesStepByStep) {
    struct Case {
        const char* name;
        std::vector<Step> steps;
    };
    const std::vector<Case> cases = {
        {"bank from Private, split pad on Public, pad keeps its bank's note",
         {{privateSource, {0x90, 0x24, 0x7F, 0x80, 0x24, 0x00}, {Event::padBank(1)}},
          {publicSource, {0x99, 0x25}, {}},
          {publicSource, {0x64, 0xF8}, {midi({0x9F, 0x34, 0x64})}},
          {privateSource, {0x90, 0x25, 0x7F, 0x80, 0x25, 0x00}, {Event::padBank(2)}},
          {privateSource, {0x89, 0x25, 0x00}, {}},
          {publicSource,
           {0xA9, 0x25, 0x46, 0x89, 0x25, 0x00},
           {midi({0xAF, 0x34, 0x46}), midi({0x8F, 0x34, 0x00})}}}},
        {"Q-Link bank selector, contact capture and bank-D effects",
         {{publicSource, {0x90, 0x00, 0x7F}, {Event::qlinkBank(1)}},
          {privateSource, {0x90, 0x00, 0x7F}, {}},
          {publicSource, {0x80, 0x00, 0x00}, {}},
          {publicSource, {0x90, 0x00, 0x7F}, {}},
          {privateSource, {0x80, 0x00, 0x00}, {}},
          {publicSource, {0x80, 0x00, 0x00}, {}},
          {publicSource, {0x90, 0x00, 0x7F}, {Event::qlinkBank(2)}},
          {publicSource, {0x80, 0x00, 0x00}, {}},
          {publicSource, {0x90, 0x54, 0x7F}, {midi({0x9E, 0x5C, 0x7F})}},
          {publicSource, {0x90, 0x00, 0x7F, 0x80, 0x00, 0x00}, {Event::qlinkBank(3)}},
          {publicSource, {0xB0, 0x10, 0x2A}, {midi({0xBE, 0x09, 0x2A})}},
          {publicSource, {0x80, 0x54, 0x00}, {midi({0x8E, 0x5C, 0x00})}},
          {publicSource, {0xB0, 0x10, 0x46}, {midi({0xBD, 0x1C, 0x70})}},
          {publicSource, {0xB0, 0x10, 0x3C}, {midi({0xBD, 0x1C, 0x48})}},
          {publicSource, {0xB0, 0x10, 0x00}, {midi({0xBD, 0x1C, 0x00})}},
          {publicSource, {0xB0, 0x10, 0x00}, {}},
          {publicSource, {0xB0, 0x10, 0x7F}, {midi({0xBD, 0x1C, 0x7F})}},
          // Q-Link 14 (TALKBOX): a first turn has no previous value, so the amount stays at 0.
          {publicSource, {0xB0, 0x11, 0x05}, {}},
          {publicSource, {0xB0, 0x11, 0x09}, {midi({0xBD, 0x23, 0x10})}}}},
        {"solo modifier held: bank selector solos without changing the bank",
         {{publicSource, {0x90, 0x31, 0x7F}, {midi({0x9E, 0x31, 0x7F})}},
          {publicSource, {0x90, 0x24, 0x7F}, {midi({0x9D, 0x1C, 0x7F})}},
          {publicSource, {0x80, 0x31, 0x00}, {midi({0x8E, 0x31, 0x00})}},
          {publicSource, {0x80, 0x24, 0x00}, {midi({0x8D, 0x1C, 0x00})}}}},
        {"shared button held on both endpoints",
         {{publicSource, {0x90, 0x52, 0x7F}, {midi({0x9E, 0x52, 0x7F})}},
          {privateSource, {0x90, 0x52, 0x7F}, {}},
          {privateSource, {0x80, 0x52, 0x00}, {}},
          {publicSource, {0x80, 0x52, 0x00}, {midi({0x8E, 0x52, 0x00})}}}},
        {"chopper button toggles the mode and the pad bank",
         {{publicSource, {0x90, 0x25, 0x7F, 0x80, 0x25, 0x00}, {Event::padBank(2)}},
          {publicSource,
           {0x90, 0x28, 0x64},
           {midi({0x9E, 0x28, 0x64}), Event::chopperMode(true), Event::padBank(0)}},
          {publicSource, {0x99, 0x24, 0x40}, {midi({0x9F, 0x3D, 0x40})}},
          {publicSource, {0x80, 0x28, 0x00}, {midi({0x8E, 0x28, 0x00})}},
          {publicSource,
           {0x90, 0x28, 0x64},
           {midi({0x9E, 0x28, 0x64}), Event::chopperMode(false), Event::padBank(2)}},
          {publicSource, {0x89, 0x24, 0x00}, {midi({0x8F, 0x3D, 0x00})}}}},
        {"FULL LEVEL forces velocity 127 and Private cannot toggle it",
         {{publicSource, {0x90, 0x27, 0x7F}, {Event::fullLevel(true)}},
          {publicSource, {0x80, 0x27, 0x00}, {}},
          {privateSource, {0x90, 0x27, 0x7F}, {}},
          {publicSource, {0x99, 0x25, 0x10}, {midi({0x9F, 0x24, 0x7F})}},
          {publicSource, {0x90, 0x27, 0x7F}, {Event::fullLevel(false)}}}},
        {"other messages pass on channel 15; pad numbers on channel 10 never do",
         {{publicSource, {0x92, 0x10, 0x20}, {midi({0x9E, 0x10, 0x20})}},
          {publicSource, {0x92, 0x10, 0x00}, {midi({0x8E, 0x10, 0x00})}},
          {publicSource, {0xE0, 0x00, 0x40}, {midi({0xEE, 0x00, 0x40})}},
          {publicSource, {0xC9, 0x25}, {}},
          {publicSource, {0xC9, 0x03}, {midi({0xCE, 0x03})}},
          {publicSource, {0x99, 0x03, 0x10}, {midi({0x9E, 0x03, 0x10})}},
          {privateSource, {0xB0, 0x10, 0x10}, {}},
          {privateSource, {0x90, 0x54, 0x7F}, {}}}},
        {"routing off: pads, Q-Links and buttons say nothing, selectors still change banks",
         {{publicSource, {0x99, 0x25, 0x64}, {}, false},
          {publicSource, {0x90, 0x54, 0x7F}, {}, false},
          {publicSource, {0x90, 0x52, 0x7F}, {}, false},
          {publicSource, {0x90, 0x26, 0x7F}, {Event::padBank(3)}, false},
          {publicSource, {0x90, 0x00, 0x7F}, {Event::qlinkBank(1)}, false},
          {publicSource, {0x89, 0x25, 0x00}, {}, true}}},
        {"a bank-D Q-Link turned while routing is off moves on from where the knob is now",
         {{publicSource, {0x90, 0x00, 0x7F, 0x80, 0x00, 0x00}, {Event::qlinkBank(1)}},
          {publicSource, {0x90, 0x00, 0x7F, 0x80, 0x00, 0x00}, {Event::qlinkBank(2)}},
          {publicSource, {0x90, 0x00, 0x7F, 0x80, 0x00, 0x00}, {Event::qlinkBank(3)}},
          {publicSource, {0xB0, 0x10, 0x40}, {}},
          {publicSource, {0xB0, 0x10, 0x64}, {}, false},
          {publicSource, {0xB0, 0x10, 0x65}, {midi({0xBD, 0x1C, 0x04})}}}},
    };
    for (const Case& test : cases) {
        KoalaControlRouter router;
        run(router, test.steps, test.name);
    }
}

TEST(KoalaControlRouter, HoldingABankSelectorSolosItsBusUntilRelease) {
    KoalaControlRouter router;
    EXPECT_EQ(router.consume(Bytes{0x90, 0x24, 0x7F}, publicSource, Role::publicControl, true),
              Events{Event::padBank(1)});
    EXPECT_EQ(router.newHolds, std::vector<uint8_t>{36});
    EXPECT_EQ(router.holdElapsed(36), (Events{midi({0x9D, 0x1C, 0x7F}), midi({0x8D, 0x1C, 0x00})}));
    EXPECT_EQ(router.consume(Bytes{0x80, 0x24, 0x00}, publicSource, Role::publicControl, true),
              (Events{midi({0x9D, 0x1C, 0x7F}), midi({0x8D, 0x1C, 0x00})}));

    // A short press: released before the hold time, so nothing is soloed.
    router.newHolds.clear();
    router.consume(Bytes{0x90, 0x25, 0x7F}, publicSource, Role::publicControl, true);
    router.consume(Bytes{0x80, 0x25, 0x00}, publicSource, Role::publicControl, true);
    EXPECT_TRUE(router.holdElapsed(37).empty());

    // Held on Public, released on Private while Public still holds: the solo stays.
    router.consume(Bytes{0x90, 0x26, 0x7F}, publicSource, Role::publicControl, true);
    router.consume(Bytes{0x90, 0x26, 0x7F}, privateSource, Role::privateSelector, true);
    EXPECT_EQ(router.holdElapsed(38).size(), 2u);
    EXPECT_TRUE(router.consume(Bytes{0x80, 0x26, 0x00}, privateSource, Role::privateSelector, true).empty());
    EXPECT_EQ(router.consume(Bytes{0x80, 0x26, 0x00}, publicSource, Role::publicControl, true).size(), 2u);
}

TEST(KoalaControlRouter, HeldNotesAreReleasedAsStartedAcrossBankAndChopperChanges) {
    KoalaControlRouter router;
    router.consume(Bytes{0x99, 0x25, 0x64}, publicSource, Role::publicControl, true); // A1 → 36
    router.consume(Bytes{0x90, 0x25, 0x7F}, publicSource, Role::publicControl, true); // bank C
    router.consume(Bytes{0x99, 0x24, 0x64}, publicSource, Role::publicControl, true); // C2 → 69
    EXPECT_EQ(router.setChopperMode(true), (Events{Event::chopperMode(true), Event::padBank(0)}));
    router.consume(Bytes{0x99, 0x2A, 0x64}, publicSource, Role::publicControl, true); // chop 3 → 62
    router.consume(Bytes{0x90, 0x54, 0x40}, publicSource, Role::publicControl, true); // Q-Link 1
    router.consume(Bytes{0x90, 0x49, 0x40}, publicSource, Role::publicControl, true); // button 73
    EXPECT_EQ(router.consume(Bytes{0x89, 0x25, 0x00}, publicSource, Role::publicControl, true),
              Events{midi({0x8F, 36, 0x00})});

    auto released = router.releaseHeld();
    std::multiset<std::vector<uint8_t>> got;
    for (const auto& event : released)
        got.insert(event.message.toVector());
    EXPECT_EQ(got, (std::multiset<std::vector<uint8_t>>{
                       {0x8F, 69, 0}, {0x8F, 62, 0}, {0x8E, 84, 0}, {0x8E, 73, 0}}));
    EXPECT_TRUE(router.releaseHeld().empty());
    EXPECT_TRUE(router.chopperMode); // modes and banks stay
    EXPECT_EQ(router.padBank, 0);
    EXPECT_EQ(router.setChopperMode(false), (Events{Event::chopperMode(false), Event::padBank(2)}));
}

// Whatever the musician did, releasing everything leaves no note sounding in Koala: every note-on
// the router sent is matched by a note-off.
TEST(KoalaControlRouter, ReleaseHeldAfterAnySequenceLeavesNothingSounding) {
    std::mt19937 random(2612);
    const uint8_t notes[] = {0, 35, 36, 37, 38, 39, 40, 49, 73, 81, 82, 83, 111, 53, 11, 9, 84, 85, 86, 87};
    for (int round = 0; round < 500; ++round) {
        KoalaControlRouter router;
        std::set<std::pair<uint8_t, uint8_t>> sounding; // (channel, note)
        auto apply = [&](const Events& events) {
            for (const auto& event : events) {
                if (event.kind != Event::Kind::midi) continue;
                const MidiMessage& m = event.message;
                uint8_t kind = m.data[0] & 0xF0, channel = m.data[0] & 0x0F;
                if (kind == 0x90 && m.data[2] > 0) sounding.insert({channel, m.data[1]});
                if (kind == 0x80 || (kind == 0x90 && m.data[2] == 0)) sounding.erase({channel, m.data[1]});
            }
        };
        bool routing = true;
        for (int step = 0; step < 60; ++step) {
            uint32_t source = random() % 3 ? publicSource : privateSource;
            Role role = source == publicSource ? Role::publicControl : Role::privateSelector;
            Bytes bytes;
            switch (random() % 6) {
            case 0:
            case 1:
                bytes = {uint8_t(random() % 2 ? 0x99 : 0x89), KoalaPadMapper::physicalPadOrder[random() % 16],
                         uint8_t(random() % 128)};
                break;
            case 2:
                bytes = {0xB0, uint8_t(16 + random() % 4), uint8_t(random() % 128)};
                break;
            case 3:
                routing = random() % 4 != 0;
                continue;
            default:
                bytes = {uint8_t(random() % 2 ? 0x90 : 0x80), notes[random() % std::size(notes)],
                         uint8_t(random() % 128)};
            }
            apply(router.consume(bytes, source, role, routing));
            if (random() % 5 == 0) {
                for (uint8_t note : std::exchange(router.newHolds, {}))
                    apply(router.holdElapsed(note));
            }
            if (random() % 17 == 0) apply(router.setChopperMode(random() % 2));
        }
        apply(router.releaseHeld());
        ASSERT_TRUE(sounding.empty())
            << "round " << round << ": " << sounding.size() << " notes left sounding";
    }
}

} // namespace
} // namespace tandem
