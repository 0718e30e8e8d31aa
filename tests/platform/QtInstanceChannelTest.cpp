#include "platform/qt/QtInstanceChannel.h"

#include "base/ScratchFolder.h"
#include "platform/QtEventLoop.h"
#include "platform/TandemIdentity.h"
#include "platform/linux/LinuxWorkspace.h"
#include "support/ScratchHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>

namespace tandem {
namespace {

using Steady = std::chrono::steady_clock;
using testing::spinUntil;

// A socket name in a folder of its own, so no test meets a Tandem that really runs.
struct ChannelPlace {
    ScratchFolder folder{"tandem-channel-"};
    std::string name = (folder.path() / "tandem.socket").string();
};

QtInstanceChannel channelAt(const std::string& name) {
    return QtInstanceChannel(tandemBundleIdentifier, "Tandem", name);
}

// Runs `work` on a thread of its own while the GUI thread serves its event loop, so that an owner in
// this very process can answer; the result once it is done.
template <class F> auto whileServing(F work) {
    auto result = std::async(std::launch::async, std::move(work));
    EXPECT_TRUE(
        spinUntil([&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 10));
    return result.get();
}

// A running copy in a process of its own: this test program started as "--instance-owner NAME".
class OwnerProcess {
public:
    explicit OwnerProcess(const std::string& name, bool busy = false) {
        process.setProgram(QCoreApplication::applicationFilePath());
        process.setArguments(
            {busy ? "--busy-instance-owner" : "--instance-owner", QString::fromStdString(name)});
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start();
        if (!process.waitForStarted(10000)) return;
        pid = std::atoi(line().c_str());
    }
    ~OwnerProcess() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    // The next line it prints, or nothing within ten seconds.
    std::string line() {
        auto deadline = Steady::now() + std::chrono::seconds(10);
        while (!process.canReadLine() && Steady::now() < deadline)
            process.waitForReadyRead(100);
        return process.canReadLine() ? process.readLine().trimmed().toStdString() : std::string();
    }

    bool endsWith(int status) {
        return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == status;
    }

    QProcess process;
    int32_t pid = 0; // -1: it could not claim the name
};

// What a copy that crashed leaves behind: a socket file nobody listens on.
void leaveStaleSocket(const std::string& name) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(name.size(), sizeof address.sun_path);
    std::copy(name.begin(), name.end(), address.sun_path);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(fd, 1), 0);
    ::close(fd);
    ASSERT_TRUE(std::filesystem::exists(name));
}

TEST(QtInstanceChannel, FindsNothingQuicklyWhenNoCopyRuns) {
    ChannelPlace place;
    auto channel = channelAt(place.name);
    auto start = Steady::now();
    EXPECT_EQ(channel.find(), std::nullopt);
    EXPECT_FALSE(channel.activate(12345));
    EXPECT_LT(Steady::now() - start, std::chrono::milliseconds(400)) << "no owner is no reason to wait";
}

TEST(QtInstanceChannel, AnotherCopyFindsTheOwnerAndAsksItToComeForward) {
    ChannelPlace place;
    auto owner = channelAt(place.name);
    int activations = 0;
    QThread* activatedOn = nullptr;
    ASSERT_TRUE(owner.listen([&] {
        ++activations;
        activatedOn = QThread::currentThread();
    }));

    auto second = channelAt(place.name);
    auto found = whileServing([&] { return second.find(); });
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(*found, (RunningApplication{tandemBundleIdentifier, static_cast<int32_t>(::getpid()), false,
                                          "Tandem"}));
    EXPECT_FALSE(whileServing([&] { return second.activate(::getpid() + 1); })) << "not the owner's process";
    EXPECT_EQ(activations, 0) << "finding is not activating";
    EXPECT_TRUE(whileServing([&] { return second.activate(::getpid()); }));
    EXPECT_EQ(activations, 1);
    EXPECT_EQ(activatedOn, QCoreApplication::instance()->thread());

    // The owner answers for itself without waiting on its own thread.
    auto start = Steady::now();
    EXPECT_EQ(owner.find(), found);
    EXPECT_TRUE(owner.activate(::getpid()));
    EXPECT_EQ(activations, 2);
    EXPECT_LT(Steady::now() - start, std::chrono::milliseconds(100));
}

TEST(QtInstanceChannel, ASecondClaimWhileTheOwnerLivesFailsAndLeavesItsSocketAlone) {
    ChannelPlace place;
    OwnerProcess owner(place.name);
    ASSERT_GT(owner.pid, 0);
    ASSERT_NE(owner.pid, ::getpid());

    auto second = channelAt(place.name);
    EXPECT_FALSE(second.listen([] {}));
    auto found = second.find();
    ASSERT_TRUE(found.has_value()) << "the failed claim removed the owner's socket";
    EXPECT_EQ(found->processIdentifier, owner.pid);

    EXPECT_TRUE(second.activate(owner.pid));
    EXPECT_EQ(owner.line(), "activated");
    EXPECT_TRUE(owner.endsWith(0));
    EXPECT_EQ(second.find(), std::nullopt) << "an owner that ended leaves the name free";
}

TEST(QtInstanceChannel, AnOwnerWhoseEventLoopIsNotRunningYetIsStillFoundAndNotTakenOver) {
    ChannelPlace place;
    OwnerProcess owner(place.name, true);
    ASSERT_GT(owner.pid, 0);
    auto second = channelAt(place.name);
    auto start = Steady::now();
    auto found = second.find();
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->processIdentifier, owner.pid);
    EXPECT_LT(Steady::now() - start, std::chrono::seconds(2)) << "the wait is bounded";
    EXPECT_FALSE(second.listen([] {}));
}

TEST(QtInstanceChannel, TakesOverTheSocketOfACopyThatCrashedAndFreesTheNameWhenItGoes) {
    ChannelPlace place;
    leaveStaleSocket(place.name);
    {
        auto first = channelAt(place.name);
        EXPECT_EQ(first.find(), std::nullopt);
        ASSERT_TRUE(first.listen([] {}));
        auto second = channelAt(place.name);
        auto found = whileServing([&] { return second.find(); });
        ASSERT_TRUE(found.has_value());
        EXPECT_EQ(found->processIdentifier, ::getpid());
    }
    EXPECT_FALSE(std::filesystem::exists(place.name)) << "an owner that goes away removes its socket";
    EXPECT_TRUE(channelAt(place.name).listen([] {}));
}

TEST(QtInstanceChannel, TheNameComesFromTheBundleIdentifierAndTheUserInTheRuntimeFolder) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = runtime ? runtime : "";
    const std::string user = std::to_string(::getuid());
    ScratchFolder folder("tandem-runtime-");
    setenv("XDG_RUNTIME_DIR", folder.path().c_str(), 1);
    EXPECT_EQ(QtInstanceChannel::serverNameFor("com.tandem-music.tandem"),
              folder.path().string() + "/com.tandem-music.tandem." + user);
    setenv("XDG_RUNTIME_DIR", (folder.path() / "missing").c_str(), 1);
    std::string fallback = QtInstanceChannel::serverNameFor("com.tandem-music.tandem");
    EXPECT_EQ(std::filesystem::path(fallback).filename(), "com.tandem-music.tandem." + user);
    EXPECT_EQ(std::filesystem::path(fallback).parent_path(),
              std::filesystem::path(QDir::tempPath().toStdString()));
    if (runtime) {
        setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    } else {
        unsetenv("XDG_RUNTIME_DIR");
    }
}

// ---- The workspace answering for Tandem ---------------------------------------------------------

struct FakeProc {
    testing::ScratchHome home;
    std::filesystem::path proc = home.path() / "proc";
    FakeProc() {
        testing::ScratchHome::write(proc / "12" / "comm", "koala\n");
        testing::ScratchHome::write(proc / "40" / "comm", "tandem\n"); // a self-check run, say
    }
    LinuxWorkspace::Names names() const {
        auto names = LinuxWorkspace::defaultNames();
        names.emplace(tandemBundleIdentifier, "tandem");
        return names;
    }
};

std::vector<RunningApplication> withBundle(const std::vector<RunningApplication>& all,
                                           const std::string& bundle) {
    std::vector<RunningApplication> matching;
    for (const auto& application : all)
        if (application.bundleIdentifier == bundle) matching.push_back(application);
    return matching;
}

TEST(LinuxWorkspaceAnswer, ListsAndActivatesTandemOnlyThroughTheHook) {
    FakeProc fake;
    LinuxWorkspace workspace(fake.names(), fake.proc);
    ASSERT_EQ(withBundle(workspace.runningApplications(), tandemBundleIdentifier).size(), 1u)
        << "without a hook /proc names it";

    std::optional<RunningApplication> owner;
    std::vector<std::pair<int32_t, unsigned>> asked;
    workspace.answerFor(
        tandemBundleIdentifier, [&] { return owner; },
        [&](int32_t pid, unsigned options) {
            asked.emplace_back(pid, options);
            return true;
        });
    EXPECT_TRUE(withBundle(workspace.runningApplications(), tandemBundleIdentifier).empty())
        << "process 40 is not the application";

    owner = RunningApplication{tandemBundleIdentifier, 77, false, "Tandem"};
    auto running = workspace.runningApplications();
    EXPECT_EQ(withBundle(running, tandemBundleIdentifier), std::vector<RunningApplication>{*owner});
    EXPECT_EQ(withBundle(running, "com.elf-audio.koala-mac").size(), 1u);
    EXPECT_EQ(workspace.application(77), owner);

    EXPECT_TRUE(workspace.activate(77, activateAllWindows | activateIgnoringOtherApps));
    workspace.activate(12, activateAllWindows); // Koala: the window system's business
    workspace.activate(40, activateAllWindows);
    EXPECT_EQ(asked, (std::vector<std::pair<int32_t, unsigned>>{{77, 3u}}));
}

TEST(LinuxWorkspaceAnswer, FindsAndActivatesARunningTandemThroughItsChannel) {
    ChannelPlace place;
    OwnerProcess owner(place.name);
    ASSERT_GT(owner.pid, 0);
    auto channel = channelAt(place.name);
    LinuxWorkspace workspace;
    workspace.answerFor(
        tandemBundleIdentifier, [&] { return channel.find(); },
        [&](int32_t pid, unsigned) { return channel.activate(pid); });
    auto tandems = withBundle(workspace.runningApplications(), tandemBundleIdentifier);
    ASSERT_EQ(tandems.size(), 1u);
    EXPECT_EQ(tandems[0], (RunningApplication{tandemBundleIdentifier, owner.pid, false, "Tandem"}));
    EXPECT_TRUE(workspace.activate(owner.pid, activateAllWindows | activateIgnoringOtherApps));
    EXPECT_EQ(owner.line(), "activated");
    EXPECT_TRUE(owner.endsWith(0));
    EXPECT_TRUE(withBundle(workspace.runningApplications(), tandemBundleIdentifier).empty());
}

} // namespace
} // namespace tandem
