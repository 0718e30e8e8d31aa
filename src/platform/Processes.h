#pragma once

#include "base/Error.h"
#include "base/Queue.h"
#include "platform/Observation.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tandem {

// How to start a program.
struct ProcessLaunch {
    std::filesystem::path program;
    std::vector<std::string> arguments;
    // Added to (or replacing in) this process's own environment.
    std::map<std::string, std::string> environment;
    // Where standard output and standard error both go.
    enum class Output { discard, file, pipe };
    Output output = Output::discard;
    std::filesystem::path outputFile; // for Output::file: an existing file, written from its start
};

// A started program. Polled, never waited on without limit.
class RunningProcess {
public:
    virtual ~RunningProcess() = default;

    // False once the program has ended (and was reaped). Also collects piped output.
    virtual bool isRunning() = 0;
    // The exit status once ended; a program ended by a signal gives 128 + the signal.
    virtual std::optional<int> terminationStatus() = 0;
    // Ends the program (politely first) and reaps it; harmless after it ended.
    virtual void terminate() = 0;
    // Everything the program wrote to the pipe so far (Output::pipe).
    virtual std::string output() = 0;
};

// One process as the process list names it.
struct ProcessEntry {
    int32_t pid = 0;
    std::string name; // the program's own name, at most 63 bytes
    bool operator==(const ProcessEntry&) const = default;
};

class Processes {
public:
    virtual ~Processes() = default;

    // The error's description says why the program could not be started.
    virtual Result<std::unique_ptr<RunningProcess>> run(const ProcessLaunch& launch) = 0;
    virtual uint32_t userIdentifier() = 0;
    virtual int32_t currentProcessIdentifier() = 0;
    // The user's temporary folder.
    virtual std::filesystem::path temporaryFolder() = 0;
    // Sends the null signal: 0 when the process could be signalled, else the errno (3 = ESRCH).
    virtual int signalProbe(int32_t processIdentifier) = 0;

    // Every process of the machine, in one scan.
    virtual std::vector<ProcessEntry> list() = 0;
    // User plus system CPU time of a process in nanoseconds; nothing when it cannot be read.
    virtual std::optional<uint64_t> cpuTime(int32_t processIdentifier) = 0;
    // Sends a signal: 0 when it was sent, else the errno.
    virtual int sendSignal(int32_t processIdentifier, int signal) = 0;
    // This process stops taking `signal`'s default action and calls `handler` on `queue` instead,
    // until the token is destroyed.
    virtual ObservationToken watchSignal(int signal, std::shared_ptr<Queue> queue,
                                         std::function<void()> handler) = 0;
};

} // namespace tandem
