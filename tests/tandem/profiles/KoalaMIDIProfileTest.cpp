#include "tandem/profiles/KoalaMIDIProfile.h"

#include "base/ActivityLog.h"
#include "platform/sim/FaultyFileSystem.h"
#include "platform/sim/SimWorkspace.h"
#include "support/KoalaFiles.h"

#include <gtest/gtest.h>

namespace tandem {
namespace {

using testing::KoalaFiles;
using testing::ScratchHome;
using Op = FaultyFileSystem::Operation;
namespace fs = std::filesystem;

const std::string defaults =
    R"({"audioOutput": {"device": "Speakers", "rates": [44100, 48000]}, "useMidiMapping": false})";

std::string mapWith(const std::string& learned) {
    return R"({"type": "midiMap", "extra": {"keep": [1, {"a": null}]}, "mappings": [)" + learned + "]}";
}

auto notRunning = [] { return false; };

class KoalaMIDIProfileTest : public ::testing::Test {
protected:
    KoalaFiles koala;
    fs::path receipt = koala.home.path() / "Library/Application Support/Tandem/mpc-64-v1.json";

    Result<bool> install(const std::function<bool()>& isRunning = notRunning,
                         FileSystem& disk = FileSystem::local()) {
        return KoalaMIDIProfile::install(koala.settings, receipt, isRunning, disk);
    }
};

TEST_F(KoalaMIDIProfileTest, LearnedMappingsStayOrRefuseByTheConflictRules) {
    struct Case {
        const char* learned;
        const char* refusal; // nullptr: installs
    };
    const char* conflict = "An extra Koala mapping conflicts with the MPC profile; no settings changed.";
    const Case cases[] = {
        {R"({"address": "/sequencer/play/toggle", "key": {"channel": 1, "type": "note", "value": 5}})",
         nullptr},
        {R"({"address": "/pads/B3", "key": {"channel": 1, "type": "note", "value": 5}})", nullptr},
        {R"({"address": "/undo", "key": {"channel": 1, "type": "note", "value": 5}})", conflict},
        {R"({"address": "/undo", "key": {"channel": 16, "type": "note", "value": 36}})", conflict},
        {R"({"address": "/undo", "key": {"channel": "5", "type": "note", "value": 3}})", conflict},
        // Koala plays 36.0 as 36: still the key of "/pads/A1".
        {R"({"address": "/undo", "key": {"channel": 16, "type": "note", "value": 36.0}})", conflict},
        {R"({"address": "/undo"})", conflict},
        {R"({"key": {"channel": 5, "type": "note", "value": 3}})",
         "An unknown Koala mapping needs review; no settings changed."},
        {R"({})", "An unknown Koala mapping needs review; no settings changed."},
    };
    for (const Case& test : cases) {
        KoalaFiles files;
        files.writeSettings(defaults, mapWith(test.learned));
        auto before = files.settingsFiles();
        auto result =
            KoalaMIDIProfile::install(files.settings, files.home.path() / "receipt.json", notRunning);
        if (test.refusal) {
            ASSERT_FALSE(result.ok()) << test.learned;
            EXPECT_EQ(result.error(), (Error{"Tandem.KoalaProfile", 1, test.refusal})) << test.learned;
            EXPECT_EQ(files.settingsFiles(), before) << test.learned;
            EXPECT_FALSE(fs::exists(files.backups)) << test.learned;
            EXPECT_FALSE(fs::exists(files.home.path() / "receipt.json"));
        } else {
            ASSERT_TRUE(result.ok()) << test.learned << ": " << result.error().description;
            auto map = Json::readFile(files.settings / "midiMapping.json");
            EXPECT_EQ((*map)["mappings"].size(), 71u) << test.learned; // replaced, not kept
        }
    }

    // A learned "/undo" on channel 5 note 3 survives after the profile's entries, as it was.
    KoalaFiles files;
    std::string learned =
        R"({"address": "/undo", "key": {"channel": 5.0, "type": "note", "value": 3}, "note": "mine"})";
    files.writeSettings(defaults, mapWith(learned));
    ASSERT_TRUE(KoalaMIDIProfile::install(files.settings, files.home.path() / "r.json", notRunning).ok());
    auto map = Json::readFile(files.settings / "midiMapping.json");
    ASSERT_EQ((*map)["mappings"].size(), 72u);
    EXPECT_EQ((*map)["mappings"][71], Json::parse(learned).value());
    EXPECT_EQ((*map)["mappings"][0]["address"], "/pads/A1");
    EXPECT_EQ((*map)["extra"], Json::parse(R"({"keep": [1, {"a": null}]})").value());
}

TEST_F(KoalaMIDIProfileTest, InstallsOnceWritesSettingsAndBacksUpOnlyWhatExisted) {
    koala.writeSettings(defaults);
    auto result = install();
    ASSERT_TRUE(result.ok()) << result.error().description;
    EXPECT_TRUE(*result);

    auto settings = Json::readFile(koala.settings / "defaults.json");
    EXPECT_EQ((*settings)["audioOutput"],
              Json::parse(R"({"device": "Speakers", "rates": [44100, 48000]})").value());
    EXPECT_EQ((*settings)["useMidiMapping"], true);
    EXPECT_EQ((*settings)["midiInputChannel"], 16);
    auto map = Json::readFile(koala.settings / "midiMapping.json");
    EXPECT_EQ((*map)["type"], "midiMap");
    EXPECT_EQ((*map)["mappings"].size(), 71u);

    auto receiptObject = Json::readFile(receipt);
    ASSERT_TRUE(receiptObject);
    EXPECT_EQ((*receiptObject)["revision"], "mpc-64-v1");
    fs::path backup = (*receiptObject)["backup"].get<std::string>();
    EXPECT_EQ(backup.parent_path(), koala.backups);
    EXPECT_EQ(backup.filename().string().rfind("mpc-64-v1-", 0), 0u);
    EXPECT_EQ(FileSystem::local().list(backup), std::vector<std::string>{"defaults.json"});
    EXPECT_EQ(ScratchHome::read(backup / "defaults.json"), defaults);

    // With the receipt present nothing is read or written, even while Koala runs.
    FaultyFileSystem watched;
    auto before = koala.settingsFiles();
    auto again = install([] { return true; }, watched);
    ASSERT_TRUE(again.ok());
    EXPECT_FALSE(*again);
    EXPECT_EQ(watched.calls(Op::read), 0);
    EXPECT_EQ(watched.calls(Op::write), 0);
    EXPECT_EQ(koala.settingsFiles(), before);
}

TEST_F(KoalaMIDIProfileTest, RefusesWhileKoalaRunsAndWhenAnythingChangesBeforeTheWrite) {
    koala.writeSettings(defaults, mapWith(""));
    auto before = koala.settingsFiles();
    auto running = install([] { return true; });
    ASSERT_FALSE(running.ok());
    EXPECT_EQ(running.error().description, "Save and quit Koala before installing its MPC mapping.");
    EXPECT_EQ(koala.settingsFiles(), before);

    const std::string changed =
        "Koala or its settings changed during preparation; retry after quitting Koala.";
    // Koala starts between the read and the write.
    int asked = 0;
    auto started = install([&] { return ++asked > 1; });
    ASSERT_FALSE(started.ok());
    EXPECT_EQ(started.error().description, changed);
    EXPECT_EQ(koala.settingsFiles(), before);
    EXPECT_FALSE(fs::exists(receipt));

    // Someone rewrites defaults.json after it was read (just as the backup folder is made).
    FaultyFileSystem disk;
    disk.beforeEach = [&](Op op, const fs::path&) {
        if (op == Op::createDirectories) ScratchHome::write(koala.settings / "defaults.json", "{}");
    };
    auto rewritten = install(notRunning, disk);
    ASSERT_FALSE(rewritten.ok());
    EXPECT_EQ(rewritten.error().description, changed);
    EXPECT_EQ(ScratchHome::read(koala.settings / "defaults.json"), "{}");
}

TEST_F(KoalaMIDIProfileTest, AFailureAtAnyWriteLeavesKoalasFilesAsTheyWereAndNoReceipt) {
    for (bool withMap : {true, false}) {
        for (Op op : {Op::write, Op::rename, Op::createDirectories}) {
            for (int nth = 1; nth <= 6; ++nth) {
                KoalaFiles files;
                files.writeSettings(defaults, withMap ? std::optional(mapWith("")) : std::nullopt);
                auto before = files.settingsFiles();
                fs::path receiptFile =
                    files.home.path() / "Library/Application Support/Tandem/mpc-64-v1.json";
                FaultyFileSystem disk;
                disk.failCall(op, nth);
                auto result = KoalaMIDIProfile::install(files.settings, receiptFile, notRunning, disk);
                SCOPED_TRACE(::testing::Message()
                             << "map " << withMap << ", op " << int(op) << ", call " << nth);
                if (result.ok()) {
                    // This call number was never reached: the installation simply succeeded.
                    EXPECT_LT(disk.calls(op), nth);
                    EXPECT_TRUE(fs::exists(receiptFile));
                    continue;
                }
                EXPECT_EQ(result.error().code, ENOSPC);
                EXPECT_EQ(files.settingsFiles(), before);
                EXPECT_FALSE(fs::exists(receiptFile));
            }
        }
    }
}

TEST_F(KoalaMIDIProfileTest, MalformedFilesAreRefusedOrRaisedWithNothingChanged) {
    struct Case {
        std::string defaults;
        std::optional<std::string> map;
        std::string domain;
        std::string description; // empty: any JSON error
    };
    // Nested far beyond what a stack can copy or print: refused like any unreadable file.
    const std::string deep = std::string(50000, '[') + std::string(50000, ']');
    const Case cases[] = {
        {"[1]", std::nullopt, "Tandem.KoalaProfile",
         "Koala's settings format could not be read; no settings changed."},
        {"{\"keep\": " + deep + "}", std::nullopt, "Tandem.KoalaProfile",
         "Koala's settings format could not be read; no settings changed."},
        {"{}", "{\"mappings\": [{\"address\": \"/x\", \"key\": " + deep + "}]}", "Tandem.KoalaProfile",
         "Koala's MIDI mapping format could not be read; no settings changed."},
        {"{}", "\"midiMap\"", "Tandem.KoalaProfile",
         "Koala's MIDI mapping format could not be read; no settings changed."},
        {"{\"a\": ", std::nullopt, "Tandem.JSON", ""},
        {"{}", "{\"mappings\": [", "Tandem.JSON", ""},
    };
    for (const Case& test : cases) {
        KoalaFiles files;
        files.writeSettings(test.defaults, test.map);
        auto before = files.settingsFiles();
        auto result = KoalaMIDIProfile::install(files.settings, files.home.path() / "r.json", notRunning);
        ASSERT_FALSE(result.ok()) << test.defaults.substr(0, 40);
        EXPECT_EQ(result.error().domain, test.domain);
        if (!test.description.empty()) {
            EXPECT_EQ(result.error().description, test.description);
        }
        EXPECT_EQ(files.settingsFiles(), before);
        EXPECT_FALSE(fs::exists(files.backups));
    }
    KoalaFiles none;
    auto missing = KoalaMIDIProfile::install(none.settings, none.home.path() / "r.json", notRunning);
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().code, ENOENT);
}

} // namespace
} // namespace tandem
