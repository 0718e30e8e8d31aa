#include "platform/linux/LinuxWorkspace.h"

#include "base/ThreadQueue.h"
#include "support/ScratchHome.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <mutex>
#include <thread>

namespace tandem {
namespace {

using testing::ScratchHome;
namespace fs = std::filesystem;

template <class F> bool eventually(F condition, double seconds = 5) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// $PATH for the life of the object.
class ScopedPath {
public:
    explicit ScopedPath(const std::string& path) {
        const char* old = std::getenv("PATH");
        had = old != nullptr;
        previous = old ? old : "";
        setenv("PATH", path.c_str(), 1);
    }
    ~ScopedPath() {
        if (had) {
            setenv("PATH", previous.c_str(), 1);
        } else {
            unsetenv("PATH");
        }
    }

private:
    bool had = false;
    std::string previous;
};

void writeProgram(const fs::path& file, const std::string& text, mode_t mode = 0755) {
    ScratchHome::write(file, text);
    ::chmod(file.c_str(), mode);
}

// Notices as they arrive on the observer's queue.
struct Notices {
    std::mutex lock;
    std::vector<RunningApplication> seen;
    std::function<void(const RunningApplication&)> handler() {
        return [this](const RunningApplication& application) {
            std::lock_guard guard(lock);
            seen.push_back(application);
        };
    }
    bool has(const RunningApplication& application) {
        std::lock_guard guard(lock);
        return std::find(seen.begin(), seen.end(), application) != seen.end();
    }
    size_t count() {
        std::lock_guard guard(lock);
        return seen.size();
    }
};

struct Opened {
    std::optional<RunningApplication> application;
    std::optional<Error> error;
    std::thread::id thread;
};

Opened open(LinuxWorkspace& workspace, const fs::path& location) {
    auto promise = std::make_shared<std::promise<Opened>>();
    auto future = promise->get_future();
    workspace.openApplication(
        location, [promise](std::optional<RunningApplication> application, std::optional<Error> error) {
            promise->set_value({std::move(application), std::move(error), std::this_thread::get_id()});
        });
    EXPECT_EQ(future.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    return future.get();
}

TEST(LinuxWorkspace, AnApplicationIsTheFirstExecutableOfItsNamesOnThePath) {
    ScratchHome home;
    auto first = home.path() / "first", second = home.path() / "second";
    writeProgram(first / "koala", "#!/bin/sh\n", 0644); // not executable
    writeProgram(first / "Koala-Beta", "#!/bin/sh\n");
    writeProgram(second / "koala", "#!/bin/sh\n");
    fs::create_directories(home.path() / "folder" / "koala"); // a folder is no program
    LinuxWorkspace workspace(LinuxWorkspace::Names{{"com.elf-audio.koala-mac", "koala"},
                                                   {"com.elf-audio.koala-mac", "Koala-Beta"}});
    {
        ScopedPath path((home.path() / "folder").string() + "::" + first.string() + ":" + second.string());
        // The earlier folder wins over the earlier name.
        EXPECT_EQ(workspace.urlForApplication("com.elf-audio.koala-mac"), first / "Koala-Beta");
        EXPECT_FALSE(workspace.urlForApplication("com.example.other").has_value());
    }
    ScopedPath empty((home.path() / "nothing").string());
    EXPECT_FALSE(workspace.urlForApplication("com.elf-audio.koala-mac").has_value());
}

TEST(LinuxWorkspace, OpensAProgramFromThePathAsksItToQuitAndNoticesItsLaunchAndEnd) {
    ScratchHome home;
    // It leaves a mark when SIGTERM asks it to quit, so that a kill would show.
    const auto marker = home.path() / "asked-to-quit";
    writeProgram(home.path() / "bin" / "tandemkoala", "#!/bin/sh\ntrap 'touch \"" + marker.string() +
                                                          "\"; exit 0' TERM\nwhile :; do sleep 0.05; done\n");
    ScopedPath path((home.path() / "bin").string() + ":/usr/bin:/bin");
    LinuxWorkspace workspace(LinuxWorkspace::Names{{"com.test.koala", "tandemkoala"}});
    auto queue = std::make_shared<ThreadQueue>("workspace");
    Notices launches, terminations;
    auto launchToken = workspace.observe(WorkspaceNotice::didLaunch, queue, launches.handler());
    auto endToken = workspace.observe(WorkspaceNotice::didTerminate, queue, terminations.handler());

    auto location = workspace.urlForApplication("com.test.koala");
    ASSERT_TRUE(location.has_value());
    Opened opened = open(workspace, *location);
    ASSERT_FALSE(opened.error.has_value()) << opened.error->description;
    ASSERT_TRUE(opened.application.has_value());
    EXPECT_NE(opened.thread, std::this_thread::get_id());
    const int32_t pid = opened.application->processIdentifier;
    const RunningApplication running{"com.test.koala", pid, false, "tandemkoala", true};
    EXPECT_EQ(*opened.application, running);
    EXPECT_EQ(::getsid(pid), pid); // a session of its own
    EXPECT_TRUE(eventually([&] { return launches.has(running); }));
    EXPECT_EQ(workspace.application(pid), running);

    // The shell sets its trap as it starts: wait until it runs its loop.
    ASSERT_TRUE(eventually([&] {
        std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
        std::string any;
        return bool(children >> any);
    }));
    ASSERT_TRUE(workspace.terminate(pid));
    RunningApplication ended = running;
    ended.terminated = true;
    EXPECT_TRUE(eventually([&] { return terminations.has(ended); }));
    EXPECT_TRUE(std::filesystem::exists(marker));
    EXPECT_FALSE(workspace.terminate(0));
    // Reaped by the workspace: no longer listed, and the number takes no signal.
    EXPECT_TRUE(eventually([&] { return !workspace.application(pid) && !workspace.terminate(pid); }));

    // Once its token is gone, an observer hears nothing more.
    launchToken.reset();
    Opened again = open(workspace, *location);
    ASSERT_TRUE(again.application.has_value());
    std::this_thread::sleep_for(std::chrono::duration<double>(LinuxWorkspace::pollInterval * 3));
    EXPECT_TRUE(workspace.terminate(again.application->processIdentifier));
    std::this_thread::sleep_for(std::chrono::duration<double>(LinuxWorkspace::pollInterval * 3));
    queue->sync([] {});
    EXPECT_EQ(launches.count(), 1u);
}

TEST(LinuxWorkspace, OpeningAMissingProgramFailsWithTheReason) {
    LinuxWorkspace workspace(LinuxWorkspace::Names{{"com.test.koala", "tandemkoala"}});
    Opened opened = open(workspace, "/nonexistent/tandemkoala");
    EXPECT_FALSE(opened.application.has_value());
    ASSERT_TRUE(opened.error.has_value());
    EXPECT_EQ(*opened.error, (Error{"NSPOSIXErrorDomain", ENOENT,
                                    "Could not open /nonexistent/tandemkoala: No such file or directory"}));
}

TEST(LinuxWorkspace, OpeningAProgramAlreadyRunningFromThatFileGivesTheRunningCopy) {
    std::ifstream comm("/proc/self/comm");
    std::string self;
    std::getline(comm, self);
    LinuxWorkspace workspace(LinuxWorkspace::Names{{"com.test.self", self}});
    Opened opened = open(workspace, fs::read_symlink("/proc/self/exe"));
    ASSERT_TRUE(opened.application.has_value());
    EXPECT_EQ(*opened.application, (RunningApplication{"com.test.self", ::getpid(), false, self, true}));
}

TEST(LinuxWorkspace, OpensURLsWithXdgOpen) {
    ScratchHome home;
    auto bin = home.path() / "bin";
    writeProgram(bin / "xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > \"$(dirname \"$0\")/opened.tmp\"\n"
                                   "mv \"$(dirname \"$0\")/opened.tmp\" \"$(dirname \"$0\")/opened\"\n");
    LinuxWorkspace workspace;
    {
        ScopedPath path(bin.string() + ":/usr/bin:/bin");
        EXPECT_TRUE(workspace.openURL("https://example.org/a page?x=1&y=2"));
    }
    EXPECT_TRUE(eventually([&] { return fs::exists(bin / "opened"); }));
    EXPECT_EQ(ScratchHome::read(bin / "opened"), "https://example.org/a page?x=1&y=2");
    ScopedPath nowhere((home.path() / "nothing").string());
    EXPECT_FALSE(workspace.openURL("https://example.org"));
}

TEST(LinuxWorkspace, ProcessesThatEndedButWereNotReapedAreNotRunning) {
    ScratchHome home;
    auto proc = home.path() / "proc";
    ScratchHome::write(proc / "21" / "comm", "koala\n");
    ScratchHome::write(proc / "21" / "stat", "21 (koala) Z 1 21 21 0 -1\n");
    ScratchHome::write(proc / "22" / "comm", "koala\n");
    ScratchHome::write(proc / "22" / "stat", "22 (ko) Z la) S 1 22 22 0 -1\n"); // a name with ") Z" in it
    LinuxWorkspace workspace(LinuxWorkspace::defaultNames(), proc);
    auto running = workspace.runningApplications();
    ASSERT_EQ(running.size(), 1u);
    EXPECT_EQ(running[0].processIdentifier, 22);
    EXPECT_FALSE(workspace.application(21).has_value());
}

} // namespace
} // namespace tandem
