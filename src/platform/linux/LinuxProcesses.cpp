#include "platform/linux/LinuxProcesses.h"

#include "platform/linux/Spawn.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <thread>

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

} // namespace tandem
