#pragma once

#include "platform/Processes.h"

namespace tandem {

// Programs started with posix_spawn. Each runs in a process group of its own (so that terminating it
// reaches the children it started), with standard input from /dev/null and standard output and error
// together: to /dev/null, to a file (created when missing, emptied first, so it holds only this run's
// output) or to a pipe that every poll empties. A RunningProcess terminates a program still running
// when it is destroyed, and always reaps it.
class LinuxProcesses final : public Processes {
public:
    Result<std::unique_ptr<RunningProcess>> run(const ProcessLaunch& launch) override;
    uint32_t userIdentifier() override;
    int32_t currentProcessIdentifier() override;
    // $TMPDIR, else /tmp.
    std::filesystem::path temporaryFolder() override;
    int signalProbe(int32_t processIdentifier) override;

    // How long `terminate` waits after SIGTERM before SIGKILL.
    static constexpr double terminationGrace = 1.0;
};

} // namespace tandem
