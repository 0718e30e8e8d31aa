#include "tandem/profiles/KoalaMIDIProfile.h"
#include "tandem/profiles/KoalaMap.h"

#include "platform/sim/SimWorkspace.h"
#include "support/ScratchHome.h"

#include <gtest/gtest.h>

#include <set>
#include <unordered_set>

namespace tandem {
namespace {

using testing::ScratchHome;
using namespace KoalaPushProfile;

KoalaKey keyOf(const std::string& address) {
    for (const auto& [entry, key] : canonicalMap()) {
        if (entry == address) return key;
    }
    ADD_FAILURE() << "no canonical entry for " << address;
    return {};
}

TEST(KoalaVocabulary, CanonicalMapHas182EntriesWithNoAddressOrKeyTwice) {
    EXPECT_EQ(KoalaMIDIProfile::entries().size(), 71u);
    ASSERT_EQ(canonicalMap().size(), 182u);
    std::set<std::string> addresses;
    std::unordered_set<KoalaKey, KoalaKeyHash> keys;
    for (const auto& [address, key] : canonicalMap()) {
        EXPECT_TRUE(addresses.insert(address).second) << address;
        EXPECT_TRUE(keys.insert(key).second) << address;
    }
    EXPECT_EQ(keyOf("/mixer/channels/2/solo/toggle"), (KoalaKey{14, "note", 28}));
    EXPECT_EQ(keyOf("/pads/A1"), (KoalaKey{16, "note", 36}));
    // The MPC's entries win over the Push defaults for their addresses.
    EXPECT_EQ(keyOf("/sequencer/play/toggle"), (KoalaKey{15, "note", 82}));
    EXPECT_EQ(keyOf("/currPad/volume"), (KoalaKey{15, "cc", 3}));
    EXPECT_EQ(padAddress(17), "/pads/B2");
    EXPECT_EQ(padAddress(200), "/pads/D9");
}

TEST(KoalaVocabulary, MapReadersTakeLaterEntriesAndTheSongMapWins) {
    ScratchHome home;
    auto sampler = home.path() / "Music/Koala Sampler";
    ScratchHome::write(sampler / "settings/midiMapping.json", R"({"type":"midiMap","mappings":[
        {"address":"/undo","key":{"channel":14,"type":"note","value":2}},
        {"address":"/redo","key":{"channel":14,"type":"note","value":85}},
        {"address":"/redo","key":{"channel":5,"type":"note","value":9}},
        {"address":"/bad","key":{"channel":"5","type":"note","value":9}},
        {"key":{"channel":5,"type":"note","value":10}},
        7]})");
    ScratchHome::write(sampler / "default/midiMapping.json", R"({"mappings":[
        {"address":"/undo","key":{"channel":3,"type":"cc","value":7}}]})");
    auto settingsMap = mapping(sampler / "settings/midiMapping.json");
    EXPECT_EQ(settingsMap.size(), 2u);
    EXPECT_EQ(settingsMap.at("/redo"), (KoalaKey{5, "note", 9}));
    auto current = currentKeys(sampler);
    EXPECT_EQ(current.at("/undo"), (KoalaKey{3, "cc", 7}));
    EXPECT_EQ(current.at("/redo"), (KoalaKey{5, "note", 9}));

    ScratchHome::write(sampler / "default/midiMapping.json", "[1, 2]");
    EXPECT_TRUE(mapping(sampler / "default/midiMapping.json").empty());
    EXPECT_TRUE(mapping(sampler / "nowhere.json").empty());

    EXPECT_EQ(keyboardSettings(sampler / "settings"), (KeyboardSettings{16, 36, 16}));
    EXPECT_TRUE(canSelectPads(sampler / "settings"));
    ScratchHome::write(
        sampler / "settings/defaults.json",
        R"({"keyboardMidiChannel":13,"midiNoteOffset":"48","midiInputChannel":2.0,"midiCanSelectNotes":false})");
    EXPECT_EQ(keyboardSettings(sampler / "settings"), (KeyboardSettings{13, 36, 16}));
    EXPECT_FALSE(canSelectPads(sampler / "settings"));
}

TEST(KoalaVocabulary, PressAndSetClampAndSendVelocityAtLeastOne) {
    KoalaKey note{14, "note", 28};
    EXPECT_EQ(note.press(true, 0), (MidiMessage{0x9D, 28, 1}));
    EXPECT_EQ(note.press(true, 300), (MidiMessage{0x9D, 28, 127}));
    EXPECT_EQ(note.press(false, 90), (MidiMessage{0x8D, 28, 0}));
    EXPECT_EQ((KoalaKey{0, "note", 200}).press(true, 64), (MidiMessage{0x90, 127, 64}));
    EXPECT_EQ((KoalaKey{15, "cc", 3}).press(true), (MidiMessage{0xBE, 3, 127}));
    EXPECT_EQ((KoalaKey{15, "cc", 3}).set(200), (MidiMessage{0xBE, 3, 127}));
    EXPECT_EQ((KoalaKey{15, "cc", 3}).set(-1), (MidiMessage{0xBE, 3, 0}));
    EXPECT_EQ((KoalaKey{15, "note", 3}).set(5), std::nullopt);
    EXPECT_EQ((KoalaKey{15, "pitchbend", 3}).press(true), std::nullopt);
}

} // namespace
} // namespace tandem
