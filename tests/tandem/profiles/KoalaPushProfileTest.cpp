#include "tandem/profiles/KoalaPushProfile.h"

#include "base/ActivityLog.h"
#include "platform/sim/FaultyFileSystem.h"
#include "platform/sim/SimWorkspace.h"
#include "support/KoalaFiles.h"
#include "tandem/profiles/KoalaMIDIProfile.h"

#include <gtest/gtest.h>

#include <unordered_map>

namespace tandem {
namespace {

using namespace KoalaPushProfile;
using testing::KoalaFiles;
using testing::ScratchHome;
using Op = FaultyFileSystem::Operation;
namespace fs = std::filesystem;

auto notRunning = [] { return false; };

std::string entry(const std::string& address, int channel, const std::string& type, int value) {
    return KoalaMIDIProfile::entry(address, channel, type, value).dump();
}

std::string mapOf(const std::vector<std::string>& entries) {
    std::string list;
    for (const auto& e : entries)
        list += (list.empty() ? "" : ",") + e;
    return R"({"type":"midiMap","learnedBy":{"user":["x",{"y":2}]},"mappings":[)" + list + "]}";
}

// A map that already holds every canonical entry.
std::vector<std::string> canonicalEntries() {
    std::vector<std::string> entries;
    for (const auto& [address, key] : canonicalMap())
        entries.push_back(entry(address, int(key.channel), key.type, int(key.value)));
    return entries;
}

const std::string foreignSettings =
    R"({"audioOutput":{"device":"Speakers","rates":[44100,48000]},"midiInputChannel":16.0})";

TEST(KoalaPushProfile, RepairGivesEveryCanonicalAddressItsKeyAndKeepsTheUsersOwn) {
    KoalaFiles koala;
    auto entries = canonicalEntries();
    // "/undo" at its address with the right key, but a second entry elsewhere on the same key.
    entries.push_back(entry("/mine/elsewhere", 14, "note", 2));
    entries.push_back(entry("/mine/kept", 3, "cc", 9));
    ScratchHome::write(koala.settings / "midiMapping.json", mapOf(entries));
    auto result = repairMap(koala.settings, notRunning);
    ASSERT_TRUE(result.ok()) << result.error().description;
    EXPECT_EQ(*result, std::vector<std::string>{"/undo"});

    auto map = *Json::readFile(koala.settings / "midiMapping.json");
    const auto& mappings = map["mappings"];
    EXPECT_EQ(mappings.back()["address"], "/undo"); // both removed, one canonical entry appended
    EXPECT_EQ(mappings.size(), canonicalMap().size() + 1);
    EXPECT_EQ(mapping(koala.settings / "midiMapping.json").count("/mine/elsewhere"), 0u);
    EXPECT_EQ(mapping(koala.settings / "midiMapping.json").at("/mine/kept"), (KoalaKey{3, "cc", 9}));
    EXPECT_EQ(map["learnedBy"], Json::parse(R"({"user":["x",{"y":2}]})").value());

    // A second run finds nothing to do and writes nothing.
    FaultyFileSystem disk;
    auto bytes = ScratchHome::read(koala.settings / "midiMapping.json");
    auto again = repairMap(koala.settings, notRunning, disk);
    ASSERT_TRUE(again.ok());
    EXPECT_TRUE(again->empty());
    EXPECT_EQ(disk.calls(Op::write), 0);
    EXPECT_EQ(ScratchHome::read(koala.settings / "midiMapping.json"), bytes);
}

TEST(KoalaPushProfile, RepairTakesCanonicalKeysWrittenAsWholeRealsToo) {
    KoalaFiles koala;
    auto entries = canonicalEntries();
    // Koala plays 14.0/2.0 as channel 14 note 2, the key of "/undo": it must not stay on "/mine".
    entries.push_back(R"({"address":"/mine","key":{"channel":14.0,"type":"note","value":2.0}})");
    entries.push_back(R"({"address":"/mine/half","key":{"channel":14,"type":"note","value":2.5}})");
    entries[0] = R"({"address":"/pads/A1","key":{"channel":16,"type":"note","value":36.0}})";
    ScratchHome::write(koala.settings / "midiMapping.json", mapOf(entries));
    auto result = repairMap(koala.settings, notRunning);
    ASSERT_TRUE(result.ok()) << result.error().description;
    EXPECT_EQ(*result, (std::vector<std::string>{"/pads/A1", "/undo"}));
    auto written = mapping(koala.settings / "midiMapping.json");
    EXPECT_EQ(written.at("/pads/A1"), (KoalaKey{16, "note", 36}));
    EXPECT_EQ(written.count("/mine"), 0u);
    auto map = *Json::readFile(koala.settings / "midiMapping.json");
    EXPECT_TRUE(std::any_of(map["mappings"].begin(), map["mappings"].end(),
                            [](const Json::Value& e) { return e["address"] == "/mine/half"; }));
}

TEST(KoalaPushProfile, EnforceSetsExactKindsOnceAndSkipsUnreadableSettings) {
    KoalaFiles koala;
    auto missing = enforceSettings(
        koala.settings, [] { return true; }, Mode::push2);
    ASSERT_TRUE(missing.ok());
    EXPECT_FALSE(missing->has_value()); // no defaults.json: nothing, not even the running refusal

    koala.writeSettings("[]");
    auto array = enforceSettings(koala.settings, notRunning, Mode::push2);
    ASSERT_TRUE(array.ok());
    EXPECT_FALSE(array->has_value());

    koala.writeSettings(foreignSettings);
    auto running = enforceSettings(
        koala.settings, [] { return true; }, Mode::mpcTouch);
    ASSERT_FALSE(running.ok());
    EXPECT_EQ(running.error(), (Error{"Tandem.KoalaPushProfile", 1,
                                      "Save and quit Koala before Tandem sets its MIDI settings."}));

    auto changes = enforceSettings(koala.settings, notRunning, Mode::mpcTouch);
    ASSERT_TRUE(changes.ok() && changes->has_value());
    EXPECT_EQ(**changes, (std::vector<std::string>{
                             "useMidiMapping = true", "midiInputChannel = 16", "keyboardMidiChannel = 16",
                             "midiNoteOffset = 36", "midiCanSelectNotes = false",
                             "keyboardMidiSnapToScale = false", "builtInMidiMappingsEnabled = false",
                             "enableMidiVelocity = true", "keyboardVelocityEnabled = true"}));
    auto settings = *Json::readFile(koala.settings / "defaults.json");
    EXPECT_EQ(settings["audioOutput"], Json::parse(R"({"device":"Speakers","rates":[44100,48000]})").value());
    EXPECT_TRUE(settings["midiInputChannel"].is_number_integer());
    auto bytes = ScratchHome::read(koala.settings / "defaults.json");
    auto again = enforceSettings(koala.settings, notRunning, Mode::mpcTouch);
    ASSERT_TRUE(again.ok() && again->has_value());
    EXPECT_TRUE((*again)->empty());
    EXPECT_EQ(ScratchHome::read(koala.settings / "defaults.json"), bytes);

    auto push = enforceSettings(koala.settings, notRunning, Mode::push2);
    EXPECT_EQ(**push, (std::vector<std::string>{"keyboardMidiChannel = 13", "midiCanSelectNotes = true"}));
    auto folders = FileSystem::local().list(koala.backups);
    ASSERT_EQ(folders.size(), 2u);
    EXPECT_EQ(folders[0].rfind("settings-", 0), 0u);
}

TEST(KoalaPushProfile, WritersRefuseUnreadableAndChangedFilesWithTheirOwnWords) {
    const std::string deep = std::string(50000, '[') + std::string(50000, ']');
    struct Case {
        const char* name;
        std::string defaults, map;
        bool repair;                                // repairMap, else enforceSettings(push2)
        std::function<void(KoalaFiles&)> meanwhile; // during the backup
        std::optional<std::string> refusal;         // nullopt: no error, nothing written
    };
    auto rewrite = [](const char* file) {
        return [file](KoalaFiles& koala) { ScratchHome::write(koala.settings / file, "{\"changed\":1}"); };
    };
    const std::string mapChanged = "Koala or its MIDI map changed meanwhile; quit Koala and try again.";
    const std::string unreadableMap = "Koala's MIDI mapping format could not be read; no mapping changed.";
    const Case cases[] = {
        {"map appears", foreignSettings, "", true, rewrite("midiMapping.json"), mapChanged},
        {"settings rewritten", foreignSettings, mapOf({}), false, rewrite("defaults.json"),
         "Koala or its settings changed meanwhile; quit Koala and try again."},
        {"map not an object", foreignSettings, "[]", true, {}, unreadableMap},
        {"map too deep", foreignSettings, "{\"deep\":" + deep + "}", true, {}, unreadableMap},
        {"settings too deep", "{\"deep\":" + deep + "}", mapOf({}), false, {}, std::nullopt},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        KoalaFiles koala;
        koala.writeSettings(test.defaults, test.map.empty() ? std::nullopt : std::optional(test.map));
        FaultyFileSystem disk;
        disk.beforeEach = [&](Op op, const fs::path&) {
            if (op == Op::createDirectories && test.meanwhile) test.meanwhile(koala);
        };
        std::optional<Error> error;
        if (test.repair) {
            auto result = repairMap(koala.settings, notRunning, disk);
            if (!result) error = result.error();
        } else {
            auto result = enforceSettings(koala.settings, notRunning, Mode::push2, disk);
            if (!result)
                error = result.error();
            else
                EXPECT_FALSE(result->has_value());
        }
        if (test.refusal) {
            ASSERT_TRUE(error);
            EXPECT_EQ(*error, (Error{"Tandem.KoalaPushProfile", 1, *test.refusal}));
        } else {
            EXPECT_FALSE(error);
        }
        EXPECT_EQ(disk.calls(Op::rename), 0); // nothing was written over Koala's files
    }
}

TEST(KoalaPushProfile, EveryWriterRefusesALateKoalaAndSurvivesAFailureAtEachWrite) {
    struct Writer {
        const char* name;
        std::function<bool(const fs::path&, const std::function<bool()>&, FileSystem&)> run; // ok?
    };
    const Writer writers[] = {
        {"repairMap", [](auto& settings, auto& running,
                         FileSystem& disk) { return repairMap(settings, running, disk).ok(); }},
        {"enforceSettings",
         [](auto& settings, auto& running, FileSystem& disk) {
             return enforceSettings(settings, running, Mode::push2, disk).ok();
         }},
    };
    for (const Writer& writer : writers) {
        SCOPED_TRACE(writer.name);
        {
            KoalaFiles koala;
            koala.writeSettings(foreignSettings, mapOf({entry("/undo", 1, "note", 5)}));
            auto before = koala.settingsFiles();
            int asked = 0;
            EXPECT_FALSE(writer.run(
                koala.settings, [&] { return ++asked > 1; }, FileSystem::local()));
            EXPECT_EQ(koala.settingsFiles(), before);
        }
        for (Op op : {Op::write, Op::rename, Op::createDirectories}) {
            for (int nth = 1; nth <= 3; ++nth) {
                KoalaFiles koala;
                koala.writeSettings(foreignSettings, mapOf({entry("/undo", 1, "note", 5)}));
                auto before = koala.settingsFiles();
                FaultyFileSystem disk;
                disk.failCall(op, nth);
                if (writer.run(koala.settings, notRunning, disk)) {
                    EXPECT_LT(disk.calls(op), nth);
                } else {
                    EXPECT_EQ(koala.settingsFiles(), before) << int(op) << " " << nth;
                }
            }
        }
    }
}

TEST(KoalaPushProfile, PrepareRepairsSetsAndLogsAndMpcModeNeverAsksAboutPush) {
    KoalaFiles koala;
    SimWorkspace workspace;
    koala.writeSettings(foreignSettings, mapOf({entry("/learned/raw", 1, "note", 5)}));

    auto mpc = prepare(Mode::mpcTouch, workspace);
    ASSERT_TRUE(mpc.ok()) << mpc.error().description; // a channel-1 mapping is no conflict for the MPC

    auto push = prepare(Mode::push2, workspace);
    ASSERT_FALSE(push.ok());
    EXPECT_EQ(push.error().description, "Koala maps /learned/raw to raw Push channel 1. Reassign that "
                                        "learned mapping before starting Push to avoid duplicate actions.");

    ActivityLog::flush();
    auto log = ScratchHome::read(koala.home.path() / "Library/Logs/Tandem.log");
    EXPECT_NE(log.find("Koala's MIDI map: the controller's keys written (182: /pads/A1, /pads/A2"),
              std::string::npos);
    EXPECT_NE(log.find("/pads/A12…); backed up first\n"), std::string::npos);
    EXPECT_NE(log.find("Koala's MIDI settings set: useMidiMapping = true, midiInputChannel = 16, "),
              std::string::npos);

    // Without settings the MPC preparation succeeds, the Push one cannot.
    KoalaFiles bare;
    EXPECT_TRUE(prepare(Mode::mpcTouch, workspace).ok());
    auto unprepared = prepare(Mode::push2, workspace);
    ASSERT_FALSE(unprepared.ok());
    EXPECT_EQ(unprepared.error().description, "Koala's Push settings could not be prepared. Open Koala once "
                                              "to create its settings, then quit and choose Push again.");

    workspace.launch(koalaBundleIdentifier);
    auto running = prepare(Mode::mpcTouch, workspace);
    ASSERT_FALSE(running.ok());
    EXPECT_EQ(running.error().description, "Save and quit Koala before Tandem checks its MIDI map.");
}

TEST(KoalaPushProfile, RepairWithoutAMapCreatesOneAndNonObjectEntriesSurvive) {
    KoalaFiles koala;
    auto made = repairMap(koala.settings, notRunning);
    ASSERT_TRUE(made.ok()) << made.error().description;
    EXPECT_EQ(made->size(), 182u);
    EXPECT_EQ(mapping(koala.settings / "midiMapping.json").size(), 182u);

    // A stray non-object element must not cost the user every learned mapping.
    KoalaFiles other;
    ScratchHome::write(
        other.settings / "midiMapping.json",
        R"({"mappings":[null,{"address":"/mine","key":{"channel":3,"type":"cc","value":9}}]})");
    ASSERT_TRUE(repairMap(other.settings, notRunning).ok());
    auto map = *Json::readFile(other.settings / "midiMapping.json");
    EXPECT_TRUE(map["mappings"][0].is_null());
    EXPECT_EQ(mapping(other.settings / "midiMapping.json").count("/mine"), 1u);
}

TEST(KoalaPushProfile, PushConflictsAndSettingsMatch) {
    KoalaFiles koala;
    EXPECT_FALSE(settingsMatch(Mode::mpcTouch, koala.sampler));
    auto entries = canonicalEntries();
    ScratchHome::write(koala.settings / "midiMapping.json", mapOf(entries));
    koala.writeSettings("{}");
    ASSERT_TRUE(enforceSettings(koala.settings, notRunning, Mode::push2).ok());
    EXPECT_TRUE(settingsMatch(Mode::push2, koala.sampler));
    EXPECT_FALSE(settingsMatch(Mode::mpcTouch, koala.sampler));

    // A learned mapping of the user's own on the keyboard channel, in the song's map: every canonical
    // key is still right, so only the conflict test can refuse it.
    ScratchHome::write(koala.song / "midiMapping.json", mapOf({entry("/learned/keys", 13, "note", 2)}));
    EXPECT_EQ(
        pushInputConflict(koala.sampler),
        "Koala maps /learned/keys to keyboard channel 13. Reassign that learned mapping before starting "
        "Push to keep Chopper notes separate.");
    EXPECT_FALSE(settingsMatch(Mode::push2, koala.sampler));

    ScratchHome::write(
        koala.song / "midiMapping.json",
        mapOf({entry("/zzz", 13, "note", 2), entry("/aaa", 1, "cc", 7), entry("/ok", 13, "cc", 1)}));
    EXPECT_EQ(pushInputConflict(koala.sampler),
              "Koala maps /aaa to raw Push channel 1. Reassign that learned mapping before starting Push to "
              "avoid duplicate actions.");
}

} // namespace
} // namespace tandem
