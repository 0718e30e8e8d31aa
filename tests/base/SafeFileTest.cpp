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

TEST(SafeFile, AtomicWriteKeepsTheFilesModeAndItsLinkAndSyncsTheFolderAfterTheRename) {
    ScratchHome home;
    fs::path settings = home.path() / "Music" / "settings";
    fs::path synced = home.path() / "Cloud" / "Koala";
    ScratchHome::write(synced / "defaults.json", "old");
    fs::create_directories(settings);
    // A relative link to a link: both must survive, and only the last target changes.
    fs::create_symlink("../Cloud/Koala/defaults.json", home.path() / "Music" / "hop.json");
    fs::create_symlink("../hop.json", settings / "defaults.json");
    fs::permissions(synced / "defaults.json", fs::perms(0640));

    FaultyFileSystem disk;
    std::vector<std::string> steps;
    disk.beforeEach = [&](Op op, const fs::path& path) {
        if (op == Op::rename) steps.push_back("rename " + fs::weakly_canonical(path).string());
        if (op == Op::syncFolder) steps.push_back("sync " + fs::weakly_canonical(path).string());
    };
    ASSERT_TRUE(SafeFile::atomicWrite(settings / "defaults.json", "new", disk).ok());
    EXPECT_TRUE(fs::is_symlink(settings / "defaults.json"));
    EXPECT_TRUE(fs::is_symlink(home.path() / "Music" / "hop.json"));
    EXPECT_EQ(ScratchHome::read(synced / "defaults.json"), "new");
    EXPECT_EQ(fs::status(synced / "defaults.json").permissions() & fs::perms::all, fs::perms(0640));
    EXPECT_EQ(disk.list(synced), std::vector<std::string>{"defaults.json"}); // no temporary left
    EXPECT_EQ(disk.list(settings), std::vector<std::string>{"defaults.json"});
    fs::path target = fs::canonical(synced);
    EXPECT_EQ(steps, (std::vector<std::string>{"rename " + (target / "defaults.json").string(),
                                               "sync " + target.string()}));

    // A folder that cannot be flushed is reported: the change may not survive a power cut.
    disk.failCall(Op::syncFolder, 1, EIO);
    auto unsynced = SafeFile::atomicWrite(synced / "defaults.json", "newer", disk);
    ASSERT_FALSE(unsynced.ok());
    EXPECT_EQ(unsynced.error().code, EIO);

    // Permissions that cannot be carried over leave the old file in place.
    disk.failCall(Op::setPermissions, 1, EPERM);
    ASSERT_FALSE(SafeFile::atomicWrite(synced / "defaults.json", "lost", disk).ok());
    EXPECT_EQ(ScratchHome::read(synced / "defaults.json"), "newer");
    EXPECT_EQ(disk.list(synced).size(), 1u);

    // A link loop is an error, not a hang, and writes nothing.
    fs::create_symlink("b.json", home.path() / "a.json");
    fs::create_symlink("a.json", home.path() / "b.json");
    auto loop = SafeFile::atomicWrite(home.path() / "a.json", "x", disk);
    ASSERT_FALSE(loop.ok());
    EXPECT_EQ(loop.error().code, ELOOP);
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

TEST(Json, NestingBeyondTheLimitIsSeenWithoutRecursionAndWholeRealsCountAsIntegers) {
    auto nested = [](size_t levels) { return std::string(levels, '[') + std::string(levels, ']'); };
    EXPECT_FALSE(Json::nestedDeeperThan(Json::parse(nested(Json::maxDepth)).value()));
    EXPECT_TRUE(Json::nestedDeeperThan(Json::parse(nested(Json::maxDepth + 1)).value()));
    EXPECT_TRUE(Json::nestedDeeperThan(Json::parse("{\"a\":" + nested(50000) + "}").value()));
    EXPECT_FALSE(Json::nestedDeeperThan(Json::parse("[[1],[2],{\"a\":[3]}]").value(), 3));
    EXPECT_TRUE(Json::nestedDeeperThan(Json::parse("[[1],[2],{\"a\":[3]}]").value(), 2));

    auto numbers = Json::parse(R"([36, 36.0, 36.5, -2.0, 1e300, "36", true, 18446744073709551615])").value();
    std::vector<std::optional<long long>> whole;
    for (const auto& value : numbers)
        whole.push_back(Json::wholeNumber(&value));
    EXPECT_EQ(whole, (std::vector<std::optional<long long>>{36, 36, std::nullopt, -2, std::nullopt,
                                                            std::nullopt, std::nullopt, std::nullopt}));
}

} // namespace
} // namespace tandem
