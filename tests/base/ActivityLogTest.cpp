#include "base/ActivityLog.h"

#include "support/ScratchHome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <thread>

namespace tandem {
namespace {

using testing::ScratchHome;

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

TEST(ActivityLog, CreatesItsFolderAndWritesStampedLinesInCallOrderFromAnyThread) {
    ScratchHome home;
    ASSERT_FALSE(std::filesystem::exists(home.path() / "Library"));

    ActivityLog::write("first");
    std::thread other([] { ActivityLog::write("second · from another thread"); });
    other.join();
    ActivityLog::write("third");
    ActivityLog::flush();

    auto written = lines(ScratchHome::read(home.path() / "Library/Logs/Tandem.log"));
    ASSERT_EQ(written.size(), 3u);
    std::regex stamped(R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}Z (.*))");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(written[0], match, stamped));
    EXPECT_EQ(match[1], "first");
    ASSERT_TRUE(std::regex_match(written[1], match, stamped));
    EXPECT_EQ(match[1], "second · from another thread");
    ASSERT_TRUE(std::regex_match(written[2], match, stamped));
    EXPECT_EQ(match[1], "third");
}

TEST(ActivityLog, ManyWritersGiveWholeLinesAndAppendToTheExistingFile) {
    ScratchHome home;
    ScratchHome::write(home.path() / "Library/Logs/Tandem.log", "earlier line\n");
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < 50; ++i)
                ActivityLog::write("writer " + std::to_string(t) + " line " + std::to_string(i));
        });
    }
    for (auto& writer : writers)
        writer.join();
    ActivityLog::flush();
    auto written = lines(ScratchHome::read(home.path() / "Library/Logs/Tandem.log"));
    ASSERT_EQ(written.size(), 201u);
    EXPECT_EQ(written[0], "earlier line");
    std::vector<int> next(4, 0);
    std::regex line(R"(\S+ writer (\d) line (\d+))");
    for (size_t i = 1; i < written.size(); ++i) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(written[i], match, line)) << written[i];
        int writer = std::stoi(match[1]);
        EXPECT_EQ(std::stoi(match[2]), next[writer]++); // each thread's lines keep its call order
    }
}

TEST(ActivityLog, AnUnwritableLogDropsTheLineButNotTheCaller) {
    ScratchHome home;
    // A folder where the file should be: nothing can be appended to it.
    std::filesystem::create_directories(home.path() / "Library/Logs/Tandem.log");
    ActivityLog::write("lost");
    ActivityLog::flush();
    EXPECT_TRUE(std::filesystem::is_directory(home.path() / "Library/Logs/Tandem.log"));

    // A file where the folder should be.
    ScratchHome other;
    ScratchHome::write(other.path() / "Library", "not a folder");
    ActivityLog::write("lost too");
    ActivityLog::flush();
    EXPECT_EQ(ScratchHome::read(other.path() / "Library"), "not a folder");
}

} // namespace
} // namespace tandem
