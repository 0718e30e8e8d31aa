#include "base/SafeFile.h"
#include "base/Json.h"
#include "platform/sim/FaultyFileSystem.h"

#include "support/ScratchHome.h"

#include <gtest/gtest.h>

#include <regex>

namespace tandem {
namespace {

using testing::ScratchHome;
using Op = FaultyFileSystem::Operation;
namespace fs = std::filesystem;

TEST(SafeFile, InterruptedAtomicWriteLeavesTheOldBytesAndNoTemporary) {
    ScratchHome home;
    fs::path file = home.path() / "settings" / "defaults.json";
    ScratchHome::write(file, "old bytes");
    FaultyFileSystem disk;

    // The temporary is written in full, then the rename fails: nothing of the new text may show.
    disk.failCall(Op::rename, 1);
    auto result = SafeFile::atomicWrite(file, "new bytes", disk);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code, ENOSPC);
    EXPECT_EQ(ScratchHome::read(file), "old bytes");
    EXPECT_EQ(disk.list(file.parent_path()), std::vector<std::string>{"defaults.json"});

    // The temporary's own write fails.
    disk.failCall(Op::write, 1);
    ASSERT_FALSE(SafeFile::atomicWrite(file, "new bytes", disk).ok());
    EXPECT_EQ(ScratchHome::read(file), "old bytes");
    EXPECT_EQ(disk.list(file.parent_path()).size(), 1u);

    ASSERT_TRUE(SafeFile::atomicWrite(file, "new bytes", disk).ok());
    EXPECT_EQ(ScratchHome::read(file), "new bytes");
    EXPECT_EQ(disk.list(file.parent_path()).size(), 1u);
}

TEST(SafeFile, BackupHoldsExactBytesOfFilesThatExistedOnly) {
    ScratchHome home;
    fs::path settings = home.path() / "settings";
    std::string binary("{\"a\":1}\0\xFF\r\n trailing", 18);
    ScratchHome::write(settings / "defaults.json", binary);

    auto defaults = SafeFile::capture(settings / "defaults.json");
    auto map = SafeFile::capture(settings / "midiMapping.json");
    ASSERT_TRUE(defaults.ok() && map.ok());
    EXPECT_TRUE(defaults->existed());
    EXPECT_FALSE(map->existed());

    auto folder = SafeFile::backup(home.path() / "Tandem backups", "settings-", {&*defaults, &*map});
    ASSERT_TRUE(folder.ok());
    EXPECT_TRUE(std::regex_match(
        folder->filename().string(),
        std::regex("settings-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")));
    EXPECT_EQ(FileSystem::local().list(*folder), std::vector<std::string>{"defaults.json"});
    EXPECT_EQ(ScratchHome::read(*folder / "defaults.json"), binary);

    auto second = SafeFile::backup(home.path() / "Tandem backups", "settings-", {&*defaults});
    ASSERT_TRUE(second.ok());
    EXPECT_NE(*second, *folder);
}

TEST(SafeFile, SnapshotSeesAnyChangeAndAFileAppearing) {
    ScratchHome home;
    fs::path file = home.path() / "a.json";
    ScratchHome::write(file, "one");
    auto present = SafeFile::capture(file);
    auto missing = SafeFile::capture(home.path() / "b.json");
    ASSERT_TRUE(present.ok() && missing.ok());
    EXPECT_TRUE(present->unchanged());
    EXPECT_TRUE(missing->unchanged());

    ScratchHome::write(file, "one ");
    ScratchHome::write(home.path() / "b.json", "");
    EXPECT_FALSE(present->unchanged());
    EXPECT_FALSE(missing->unchanged()); // even an empty file counts as appeared

    FaultyFileSystem disk;
    disk.failCall(Op::read, 1, EACCES);
    auto unreadable = SafeFile::capture(file, disk);
    ASSERT_FALSE(unreadable.ok());
    EXPECT_EQ(unreadable.error().code, EACCES);
}

TEST(Json, SerializesSortedAndStableAndKeepsIntegerVersusReal) {
    auto parsed = Json::parse(R"({"zeta": 1, "alpha": {"y": [1, 2.5, "x"], "b": true}, "mid": 2.0})");
    ASSERT_TRUE(parsed.ok());
    auto text = Json::serialize(*parsed);
    ASSERT_TRUE(text.ok());
    EXPECT_LT(text->find("\"alpha\""), text->find("\"mid\""));
    EXPECT_LT(text->find("\"mid\""), text->find("\"zeta\""));
    EXPECT_NE(text->find("2.0"), std::string::npos);
    auto again = Json::parse(*text);
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(*Json::serialize(*again), *text);
    EXPECT_TRUE((*again)["zeta"].is_number_integer());
    EXPECT_TRUE((*again)["mid"].is_number_float());

    EXPECT_FALSE(Json::parse("{\"a\": ").ok());
    EXPECT_FALSE(Json::serialize(Json::Value(std::string("\xFF\xFE"))).ok());
    EXPECT_EQ(Json::integer(*parsed, "zeta"), 1);
    EXPECT_EQ(Json::integer(*parsed, "mid"), std::nullopt);
    EXPECT_EQ(Json::boolean((*parsed)["alpha"], "b"), true);
}

} // namespace
} // namespace tandem
