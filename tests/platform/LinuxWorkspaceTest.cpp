#include "platform/linux/LinuxWorkspace.h"

#include "support/ScratchHome.h"

#include <gtest/gtest.h>

namespace tandem {
namespace {

TEST(LinuxWorkspace, ListsProcessesWhoseExecutableStandsForAKnownApplication) {
    testing::ScratchHome home;
    auto proc = home.path() / "proc";
    testing::ScratchHome::write(proc / "12" / "comm", "koala\n");
    testing::ScratchHome::write(proc / "13" / "comm", "bash\n");
    testing::ScratchHome::write(proc / "self" / "comm", "koala\n"); // not a process number
    std::filesystem::create_directories(proc / "14");               // ended while being read
    LinuxWorkspace workspace(LinuxWorkspace::defaultNames(), proc);
    auto running = workspace.runningApplications();
    ASSERT_EQ(running.size(), 1u);
    EXPECT_EQ(running[0], (RunningApplication{"com.elf-audio.koala-mac", 12, false, "koala"}));
    EXPECT_TRUE(LinuxWorkspace({}, home.path() / "missing").runningApplications().empty());
}

} // namespace
} // namespace tandem
