#include "platform/linux/LinuxProcesses.h"
#include "platform/linux/Spawn.h"

#include "support/ScratchHome.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace tandem {
namespace {

using testing::ScratchHome;

std::unique_ptr<RunningProcess> shell(LinuxProcesses& processes, const std::string& script,
                                      ProcessLaunch::Output output = ProcessLaunch::Output::pipe,
                                      std::map<std::string, std::string> environment = {},
                                      std::filesystem::path file = {}) {
    auto run = processes.run({"/bin/sh", {"-c", script}, std::move(environment), output, std::move(file)});
    EXPECT_TRUE(run.ok()) << (run.ok() ? "" : run.error().description);
    return run.ok() ? std::move(run.value()) : nullptr;
}

// Polls as Tandem does, never waiting without limit; false when it still runs after `seconds`.
bool ends(RunningProcess& process, double seconds = 10) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (process.isRunning()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Whether a process that is not our child has ended, within a few seconds.
bool endedOrZombie(pid_t pid) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        if (!std::getline(stat, line)) return true;
        auto close = line.rfind(')');
        if (close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z') return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// The process number a script printed as its first line.
pid_t firstLinePid(RunningProcess& process) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (process.output().find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return pid_t(std::atoi(process.output().c_str()));
}

TEST(LinuxProcesses, GivesTheExitStatusOrOneHundredTwentyEightPlusTheSignal) {
    LinuxProcesses processes;
    auto exits = shell(processes, "exit 3");
    auto killed = shell(processes, "kill -KILL $$");
    auto sleeper = shell(processes, "sleep 5");
    ASSERT_TRUE(exits && killed && sleeper);
    ASSERT_TRUE(ends(*exits));
    EXPECT_EQ(exits->terminationStatus(), 3);
    ASSERT_TRUE(ends(*killed));
    EXPECT_EQ(killed->terminationStatus(), 128 + SIGKILL);
    EXPECT_TRUE(sleeper->isRunning());
    EXPECT_FALSE(sleeper->terminationStatus().has_value());
    // Asking again changes nothing once it is known.
    EXPECT_FALSE(exits->isRunning());
    EXPECT_EQ(exits->terminationStatus(), 3);
}

TEST(LinuxProcesses, WritesOutputAndErrorsToAFileFromItsStart) {
    LinuxProcesses processes;
    ScratchHome home;
    auto log = home.path() / "log.txt";
    ScratchHome::write(log, "an older and much longer text that must not survive\n");
    auto run = shell(processes, "echo out; echo err >&2", ProcessLaunch::Output::file, {}, log);
    ASSERT_TRUE(run && ends(*run));
    EXPECT_EQ(ScratchHome::read(log), "out\nerr\n");
    EXPECT_EQ(run->output(), ""); // nothing piped

    auto nowhere = processes.run(
        {"/bin/sh", {"-c", "true"}, {}, ProcessLaunch::Output::file, home.path() / "no" / "log"});
    ASSERT_FALSE(nowhere.ok());
    EXPECT_EQ(nowhere.error().code, ENOENT);
    EXPECT_NE(nowhere.error().description.find((home.path() / "no" / "log").string()), std::string::npos);
}

TEST(LinuxProcesses, APipeCarriesMoreThanTheKernelHoldsWithoutBlockingTheProgram) {
    LinuxProcesses processes;
    // 300 000 bytes: several times a pipe's buffer, so the program finishes only if polls drain it.
    auto run = shell(processes, "head -c 300000 /dev/zero | tr '\\0' x; echo; echo end >&2");
    ASSERT_TRUE(run);
    ASSERT_TRUE(ends(*run)) << "blocked after " << run->output().size() << " bytes";
    std::string output = run->output();
    EXPECT_EQ(output.size(), 300000u + 1 + 4);
    EXPECT_EQ(output.find_first_not_of('x'), 300000u);
    EXPECT_EQ(output.substr(300000), "\nend\n");
    EXPECT_EQ(run->terminationStatus(), 0);
}

TEST(LinuxProcesses, TerminatingAsksFirstThenKillsAndAlwaysReaps) {
    LinuxProcesses processes;
    auto polite = shell(processes, "echo $$; exec sleep 30");
    ASSERT_TRUE(polite);
    pid_t politePid = firstLinePid(*polite);
    ASSERT_GT(politePid, 0);
    auto before = std::chrono::steady_clock::now();
    polite->terminate();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(900));
    EXPECT_EQ(polite->terminationStatus(), 128 + SIGTERM);
    EXPECT_EQ(processes.signalProbe(politePid), ESRCH); // reaped: a zombie would still take signals

    // A program that ignores SIGTERM (and its child, which inherits that) is killed after the grace.
    auto stubborn = shell(processes, "trap '' TERM; echo $$; while :; do sleep 1; done");
    ASSERT_TRUE(stubborn);
    pid_t stubbornPid = firstLinePid(*stubborn);
    ASSERT_GT(stubbornPid, 0);
    before = std::chrono::steady_clock::now();
    stubborn->terminate();
    EXPECT_GE(std::chrono::steady_clock::now() - before,
              std::chrono::duration<double>(LinuxProcesses::terminationGrace * 0.9));
    EXPECT_FALSE(stubborn->isRunning());
    EXPECT_EQ(stubborn->terminationStatus(), 128 + SIGKILL);
    EXPECT_EQ(processes.signalProbe(stubbornPid), ESRCH);
    stubborn->terminate(); // harmless once it ended
    EXPECT_EQ(stubborn->terminationStatus(), 128 + SIGKILL);
}

TEST(LinuxProcesses, DroppingARunningProcessEndsItAndItsChildren) {
    LinuxProcesses processes;
    auto run = shell(processes, "sleep 30 & echo $!; wait");
    ASSERT_TRUE(run);
    pid_t child = firstLinePid(*run);
    ASSERT_GT(child, 0);
    run.reset();
    // The child is not ours to reap: it ends, and whoever inherits it reaps it in its own time.
    EXPECT_TRUE(endedOrZombie(child));
}

TEST(LinuxProcesses, AProgramThatCannotStartSaysWhy) {
    LinuxProcesses processes;
    auto missing = processes.run({"/nonexistent/launchctl", {"list"}});
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error(), (Error{"NSPOSIXErrorDomain", ENOENT,
                                      "Could not start /nonexistent/launchctl: No such file or directory"}));
    ScratchHome home;
    auto plain = home.path() / "not-executable";
    ScratchHome::write(plain, "#!/bin/sh\n");
    ::chmod(plain.c_str(), 0644);
    auto refused = processes.run({plain, {}});
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, EACCES);
    EXPECT_EQ(refused.error().description, "Could not start " + plain.string() + ": Permission denied");
}

} // namespace
} // namespace tandem
