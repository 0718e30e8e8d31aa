#include "platform/linux/LinuxProcesses.h"

#include "platform/linux/ProcFs.h"
#include "platform/linux/Spawn.h"
#include "platform/linux/Subscription.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

extern char** environ;

namespace tandem {

namespace {

class LinuxRun final : public RunningProcess {
public:
    LinuxRun(pid_t pid, int pipe)
        : pid(pid)
        , pipe(pipe) {}
    ~LinuxRun() override {
        terminate();
        if (pipe >= 0) ::close(pipe);
    }

    bool isRunning() override {
        std::lock_guard guard(lock);
        return poll();
    }

    std::optional<int> terminationStatus() override {
        std::lock_guard guard(lock);
        poll();
        return status;
    }

    void terminate() override {
        std::lock_guard guard(lock);
        if (!poll()) return;
        // The whole group: a shell script's children go with it.
        ::kill(-pid, SIGTERM);
        auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration<double>(LinuxProcesses::terminationGrace);
        while (std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (!poll()) return;
        }
        ::kill(-pid, SIGKILL);
        wait(0);
        drain();
    }

    std::string output() override {
        std::lock_guard guard(lock);
        poll();
        return piped;
    }

private:
    // With the lock held. True while the program runs; collects piped output either way.
    bool poll() {
        drain();
        if (ended) return false;
        wait(WNOHANG);
        if (ended) drain(); // what it wrote just before it ended
        return !ended;
    }

    void wait(int options) {
        if (ended) return;
        int result = 0;
        pid_t waited;
        do {
            waited = ::waitpid(pid, &result, options);
        } while (waited < 0 && errno == EINTR);
        if (waited == pid) {
            ended = true;
            if (WIFEXITED(result)) status = WEXITSTATUS(result);
            if (WIFSIGNALED(result)) status = 128 + WTERMSIG(result);
        } else if (waited < 0) {
            ended = true; // reaped elsewhere (SIGCHLD ignored): the status is lost
        }
    }

    // Takes what the pipe holds now, without waiting: a child of the program may keep it open.
    void drain() {
        if (pipe < 0) return;
        char buffer[65536];
        while (true) {
            ssize_t count = ::read(pipe, buffer, sizeof buffer);
            if (count > 0) {
                piped.append(buffer, size_t(count));
            } else if (count < 0 && errno == EINTR) {
                continue;
            } else {
                return; // empty for now (EAGAIN) or closed by every writer
            }
        }
    }

    std::mutex lock;
    pid_t pid;
    int pipe;
    bool ended = false;
    std::optional<int> status;
    std::string piped;
};

struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

} // namespace

Result<std::unique_ptr<RunningProcess>> LinuxProcesses::run(const ProcessLaunch& launch) {
    const std::string program = launch.program.string();
    spawn::Request request;
    request.program = launch.program;
    request.arguments = launch.arguments;
    request.environment = spawn::environment(environ, launch.environment);
    request.newGroup = true;

    Descriptor output, readEnd;
    switch (launch.output) {
    case ProcessLaunch::Output::discard:
        break;
    case ProcessLaunch::Output::file:
        output.fd = ::open(launch.outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (output.fd < 0)
            return posixError("Could not start " + program + ": could not open " + launch.outputFile.string(),
                              errno);
        break;
    case ProcessLaunch::Output::pipe: {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) return posixError("Could not start " + program, errno);
        readEnd.fd = ends[0];
        output.fd = ends[1];
        // Only our end: the program's writes block while the pipe is full, as programs expect.
        ::fcntl(readEnd.fd, F_SETFL, ::fcntl(readEnd.fd, F_GETFL) | O_NONBLOCK);
        break;
    }
    }
    request.output = output.fd;

    pid_t pid = 0;
    if (int error = spawn::start(request, &pid)) return posixError("Could not start " + program, error);
    auto run = std::make_unique<LinuxRun>(pid, readEnd.fd);
    readEnd.fd = -1; // the run owns it now
    return std::unique_ptr<RunningProcess>(std::move(run));
}

uint32_t LinuxProcesses::userIdentifier() {
    return ::getuid();
}

int32_t LinuxProcesses::currentProcessIdentifier() {
    return ::getpid();
}

std::filesystem::path LinuxProcesses::temporaryFolder() {
    const char* folder = std::getenv("TMPDIR");
    return folder && *folder ? folder : "/tmp";
}

int LinuxProcesses::signalProbe(int32_t processIdentifier) {
    // 0 and negative numbers name process groups (-1: every process), never one process.
    if (processIdentifier <= 0) return ESRCH;
    return ::kill(processIdentifier, 0) == 0 ? 0 : errno;
}

std::vector<ProcessEntry> LinuxProcesses::list() {
    return procfs::list(proc);
}

std::optional<uint64_t> LinuxProcesses::cpuTime(int32_t processIdentifier) {
    return procfs::cpuTime(proc, processIdentifier);
}

int LinuxProcesses::sendSignal(int32_t processIdentifier, int signal) {
    if (processIdentifier <= 0) return ESRCH;
    return ::kill(processIdentifier, signal) == 0 ? 0 : errno;
}

namespace {

// One per process: the pipe the handler writes into, the thread that reads it, the watchers.
class SignalHub {
public:
    using Watcher = Subscription<>;

    static SignalHub& shared() {
        static SignalHub hub;
        return hub;
    }

    void add(int signal, const std::shared_ptr<Watcher>& watcher) {
        std::lock_guard guard(lock);
        start();
        auto& list = watchers[signal];
        if (list.empty()) {
            struct sigaction action {};
            action.sa_handler = &SignalHub::caught;
            sigemptyset(&action.sa_mask);
            action.sa_flags = SA_RESTART;
            struct sigaction previous {};
            ::sigaction(signal, &action, &previous);
            saved[signal] = previous;
        }
        list.push_back(watcher);
    }

    void remove(int signal, const std::shared_ptr<Watcher>& watcher) {
        watcher->end();
        std::lock_guard guard(lock);
        auto& list = watchers[signal];
        std::erase(list, watcher);
        if (list.empty() && saved.count(signal)) {
            ::sigaction(signal, &saved[signal], nullptr);
            saved.erase(signal);
        }
    }

    ~SignalHub() {
        if (!reader.joinable()) return;
        unsigned char stop = 0;
        while (::write(writeEnd, &stop, 1) < 0 && errno == EINTR) {
        }
        reader.join();
        ::close(readEnd);
        ::close(writeEnd);
    }

private:
    static inline std::atomic<int> pipeForHandler{-1};

    static void caught(int signal) {
        int saved = errno;
        unsigned char number = static_cast<unsigned char>(signal);
        ssize_t ignored = ::write(pipeForHandler.load(), &number, 1);
        (void)ignored;
        errno = saved;
    }

    // With the lock held.
    void start() {
        if (reader.joinable()) return;
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) return;
        readEnd = ends[0];
        writeEnd = ends[1];
        // A full pipe must never block the handler: a burst of the same signal needs one byte.
        ::fcntl(writeEnd, F_SETFL, ::fcntl(writeEnd, F_GETFL) | O_NONBLOCK);
        pipeForHandler = writeEnd;
        reader = std::thread([this] { read(); });
    }

    void read() {
        unsigned char number = 0;
        for (;;) {
            ssize_t got = ::read(readEnd, &number, 1);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0 || number == 0) return;
            std::vector<std::shared_ptr<Watcher>> list;
            {
                std::lock_guard guard(lock);
                list = watchers[number];
            }
            for (auto& watcher : list)
                watcher->deliver();
        }
    }

    std::mutex lock;
    std::map<int, std::vector<std::shared_ptr<Watcher>>> watchers;
    std::map<int, struct sigaction> saved;
    int readEnd = -1, writeEnd = -1;
    std::thread reader;
};

class SignalWatch final : public Observation {
public:
    SignalWatch(int signal, std::shared_ptr<SignalHub::Watcher> watcher)
        : signal(signal)
        , watcher(std::move(watcher)) {}
    ~SignalWatch() override { SignalHub::shared().remove(signal, watcher); }

private:
    int signal;
    std::shared_ptr<SignalHub::Watcher> watcher;
};

} // namespace

ObservationToken LinuxProcesses::watchSignal(int signal, std::shared_ptr<Queue> queue, std::function<void()> handler) {
    auto watcher = std::make_shared<SignalHub::Watcher>(std::move(queue), std::move(handler));
    SignalHub::shared().add(signal, watcher);
    return std::make_unique<SignalWatch>(signal, watcher);
}

} // namespace tandem
