#pragma once

#include "base/Clock.h"
#include "platform/Processes.h"

#include <functional>
#include <map>
#include <mutex>

namespace tandem {

// What one run of a simulated program does, decided when it starts.
struct SimProgram {
    double duration = 0.01; // seconds until it exits by itself
    bool hangs = false;     // never exits by itself
    int exitStatus = 0;
    std::string output;           // written to its output as it exits
    std::function<void()> atExit; // its effects on the world, once, as it exits
};

// Scripted programs in virtual time: a program is whatever behaviour is installed at its path. A run
// ends when the clock passes its duration, seen by whoever polls it; terminated runs end at once.
class SimProcesses final : public Processes {
public:
    using Behaviour = std::function<SimProgram(const ProcessLaunch&)>;

    SimProcesses(Clock& clock, std::filesystem::path temporaryFolder);

    void install(const std::filesystem::path& program, Behaviour behaviour);
    void uninstall(const std::filesystem::path& program);
    // Whether a process is alive, for the null signal (the rig asks its workspace).
    void setLiveness(std::function<bool(int32_t)> isAlive);
    // Signals to this process are refused (EPERM), as for another user's process, alive or not.
    void refuseSignals(int32_t processIdentifier);

    // The machine's other processes, for the process list: each burns `cpuShare` of one core.
    // `pid` 0 takes the next free number.
    int32_t addProcess(const std::string& name, double cpuShare = 0, int32_t pid = 0);
    bool endProcess(int32_t pid);
    void setCpuShare(int32_t pid, double cpuShare);

    struct SentSignal {
        int32_t pid = 0;
        int signal = 0;
        bool operator==(const SentSignal&) const = default;
    };
    // Signals sent to the listed processes, in order.
    std::vector<SentSignal> signalsSent();
    // Signals this process got while nothing watched them: the real process would have died of each.
    std::vector<int> fatalSignals();

    // Every launch so far, and how many runs were cut off by `terminate`.
    std::vector<ProcessLaunch> launches();
    int terminations();
    // Runs still going (neither ended nor terminated) as last polled.
    int running();

    Result<std::unique_ptr<RunningProcess>> run(const ProcessLaunch& launch) override;
    uint32_t userIdentifier() override { return 501; }
    int32_t currentProcessIdentifier() override { return 400; }
    std::filesystem::path temporaryFolder() override { return temporary; }
    int signalProbe(int32_t processIdentifier) override;
    std::vector<ProcessEntry> list() override;
    std::optional<uint64_t> cpuTime(int32_t processIdentifier) override;
    // This process (currentProcessIdentifier) takes its signals through its watches.
    int sendSignal(int32_t processIdentifier, int signal) override;
    ObservationToken watchSignal(int signal, std::shared_ptr<Queue> queue, std::function<void()> handler) override;

    struct Shared;

private:
    Clock& clock;
    std::filesystem::path temporary;
    std::shared_ptr<Shared> shared;
};

} // namespace tandem
