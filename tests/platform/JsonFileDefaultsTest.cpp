#include "platform/linux/JsonFileDefaults.h"

#include "base/ActivityLog.h"
#include "platform/sim/FaultyFileSystem.h"
#include "support/ScratchHome.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace tandem {
namespace {

using testing::ScratchHome;
using Op = FaultyFileSystem::Operation;

TEST(JsonFileDefaults, SuitesAreFilesUnderHomeThatSurviveARestart) {
    ScratchHome home;
    setenv("XDG_CONFIG_HOME", (home.path() / "elsewhere").c_str(), 1); // never followed
    {
        JsonFileDefaults defaults;
        EXPECT_FALSE(defaults.boolean("Tandem", "KoalaTrimStartKeepsEnd.2.0.11"));
        defaults.setBoolean("Tandem", "KoalaTrimStartKeepsEnd.2.0.11", false);
        defaults.setString("com.quillon.inkwell", "launchDisplayUUID", "9C1A3E5B");
        defaults.setString("Tandem", "gone", "soon");
        defaults.remove("Tandem", "gone");
    }
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_TRUE(std::filesystem::exists(home.path() / "Library/Preferences/Tandem.json"));
    EXPECT_TRUE(std::filesystem::exists(home.path() / "Library/Preferences/com.quillon.inkwell.json"));
    EXPECT_FALSE(std::filesystem::exists(home.path() / "elsewhere"));

    JsonFileDefaults again;
    EXPECT_EQ(again.boolean("Tandem", "KoalaTrimStartKeepsEnd.2.0.11"), false);
    EXPECT_EQ(again.string("com.quillon.inkwell", "launchDisplayUUID"), "9C1A3E5B");
    EXPECT_FALSE(again.string("Tandem", "gone"));
    EXPECT_FALSE(again.string("Tandem", "KoalaTrimStartKeepsEnd.2.0.11")); // a Boolean is not a string
    EXPECT_FALSE(again.boolean("com.quillon.inkwell", "launchDisplayUUID"));
}

TEST(JsonFileDefaults, AMalformedFileReadsEmptyAndAnUnwritableOneKeepsValuesForTheRun) {
    ScratchHome home;
    for (const char* text : {"{not json", "[1, 2]", "\"text\""}) {
        ScratchHome::write(home.path() / "Library/Preferences/Tandem.json", text);
        JsonFileDefaults defaults;
        EXPECT_FALSE(defaults.boolean("Tandem", "anything")) << text;
        defaults.setBoolean("Tandem", "fixed", true);
        EXPECT_EQ(JsonFileDefaults().boolean("Tandem", "fixed"), true) << text; // rewritten whole
    }

    FaultyFileSystem disk;
    disk.failCall(Op::rename, 1, 13);
    disk.failCall(Op::rename, 2, 13);
    JsonFileDefaults unwritable(disk);
    unwritable.setBoolean("Tandem", "kept", true);
    unwritable.setBoolean("Tandem", "also", false);
    EXPECT_EQ(unwritable.boolean("Tandem", "kept"), true);
    EXPECT_EQ(unwritable.boolean("Tandem", "also"), false);
    ActivityLog::flush();
    const std::string log = ScratchHome::read(home.path() / "Library/Logs/Tandem.log");
    EXPECT_NE(log.find("User defaults not saved: "), std::string::npos);
    EXPECT_EQ(log.find("User defaults not saved: "), log.rfind("User defaults not saved: ")); // once
}

} // namespace
} // namespace tandem
