#pragma once

#include "platform/Processes.h"

namespace tandem {

// Programs started with posix_spawn. Each runs in a process group of its own (so that terminating it
// reaches the children it started), with standard input from /dev/null and standard output and error
// together: to /dev/null, to a file (created when missing, emptied first, so it holds only this run's
// output) or to a pipe that every poll empties. A RunningProcess terminates a program still running
// when it is destroyed, and always reaps it.
//
// The process list, CPU times and names come from `proc` (/proc): names as `procfs::processName`
// gives them. A watched signal is caught by a handler that only writes its number into a pipe; a
// thread of the adapter's own reads the pipe and hands the signal to its watchers' queues.
class LinuxProcesses final : public Processes {
public:
    explicit LinuxProcesses(std::filesystem::path proc = "/proc")
        : proc(std::move(proc)) {}

    Result<std::unique_ptr<RunningProcess>> run(const ProcessLaunch& launch) override;
    uint32_t userIdentifier() override;
    int32_t currentProcessIdentifier() override;
    // $TMPDIR, else /tmp.
    std::filesystem::path temporaryFolder() override;
    int signalProbe(int32_t processIdentifier) override;
    std::vector<ProcessEntry> list() override;
    std::optional<uint64_t> cpuTime(int32_t processIdentifier) override;
    int sendSignal(int32_t processIdentifier, int signal) override;
    ObservationToken watchSignal(int signal, std::shared_ptr<Queue> queue, std::function<void()> handler) override;

    // How long `terminate` waits after SIGTERM before SIGKILL.
    static constexpr double terminationGrace = 1.0;

private:
    std::filesystem::path proc;
};

} // namespace tandem
