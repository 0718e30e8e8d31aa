#include "platform/sim/SimProcesses.h"

#include <set>

#include "base/FileSystem.h"

#include <cerrno>

namespace tandem {

struct SimProcesses::Shared {
    std::mutex lock;
    std::map<std::filesystem::path, Behaviour> programs;
    std::function<bool(int32_t)> isAlive;
    std::set<int32_t> refused;
    std::vector<ProcessLaunch> launches;
    int terminations = 0;
    int running = 0;

    struct Listed {
        std::string name;
        double cpuShare = 0;
        double accumulated = 0; // CPU seconds up to `since`
        double since = 0;
    };
    std::map<int32_t, Listed> table;
    int32_t nextPid = 500;
    std::vector<SentSignal> sent;
    std::vector<int> fatal;
    struct Watch {
        int signal;
        std::shared_ptr<Queue> queue;
        std::function<void()> handler;
        bool live = true;
    };
    std::vector<std::shared_ptr<Watch>> watches;
};

namespace {

class SimRun final : public RunningProcess {
public:
    SimRun(Clock& clock, std::shared_ptr<SimProcesses::Shared> shared, ProcessLaunch launch,
           SimProgram program)
        : clock(clock)
        , shared(std::move(shared))
        , launch(std::move(launch))
        , program(std::move(program))
        , endsAt(clock.uptime() + this->program.duration) {}
    ~SimRun() override {
        if (!status) terminate(); // a run nobody waits for any more is ended, as the real one is reaped
    }

    bool isRunning() override {
        if (status) return false;
        if (program.hangs || clock.uptime() < endsAt) return true;
        finish(program.exitStatus, true);
        return false;
    }

    std::optional<int> terminationStatus() override {
        isRunning();
        return status;
    }

    void terminate() override {
        if (!isRunning()) return;
        {
            std::lock_guard guard(shared->lock);
            ++shared->terminations;
        }
        finish(128 + 15, false);
    }

    std::string output() override {
        isRunning();
        return piped;
    }

private:
    void finish(int exit, bool completed) {
        status = exit;
        {
            std::lock_guard guard(shared->lock);
            --shared->running;
        }
        if (!completed) return;
        if (launch.output == ProcessLaunch::Output::pipe) piped = program.output;
        if (launch.output == ProcessLaunch::Output::file)
            (void)FileSystem::local().writeFile(launch.outputFile, program.output);
        if (program.atExit) program.atExit();
    }

    Clock& clock;
    std::shared_ptr<SimProcesses::Shared> shared;
    ProcessLaunch launch;
    SimProgram program;
    double endsAt;
    std::optional<int> status;
    std::string piped;
};

class SignalWatch final : public Observation {
public:
    SignalWatch(std::weak_ptr<SimProcesses::Shared> shared, std::shared_ptr<SimProcesses::Shared::Watch> watch)
        : shared(std::move(shared))
        , watch(std::move(watch)) {}
    ~SignalWatch() override {
        if (auto state = shared.lock()) {
            std::lock_guard guard(state->lock);
            watch->live = false;
            std::erase(state->watches, watch);
        }
    }

private:
    std::weak_ptr<SimProcesses::Shared> shared;
    std::shared_ptr<SimProcesses::Shared::Watch> watch;
};

} // namespace

SimProcesses::SimProcesses(Clock& clock, std::filesystem::path temporaryFolder)
    : clock(clock)
    , temporary(std::move(temporaryFolder))
    , shared(std::make_shared<Shared>()) {}

void SimProcesses::install(const std::filesystem::path& program, Behaviour behaviour) {
    std::lock_guard guard(shared->lock);
    shared->programs[program] = std::move(behaviour);
}

void SimProcesses::uninstall(const std::filesystem::path& program) {
    std::lock_guard guard(shared->lock);
    shared->programs.erase(program);
}

void SimProcesses::setLiveness(std::function<bool(int32_t)> isAlive) {
    std::lock_guard guard(shared->lock);
    shared->isAlive = std::move(isAlive);
}

std::vector<ProcessLaunch> SimProcesses::launches() {
    std::lock_guard guard(shared->lock);
    return shared->launches;
}

int SimProcesses::terminations() {
    std::lock_guard guard(shared->lock);
    return shared->terminations;
}

int SimProcesses::running() {
    std::lock_guard guard(shared->lock);
    return shared->running;
}

Result<std::unique_ptr<RunningProcess>> SimProcesses::run(const ProcessLaunch& launch) {
    Behaviour behaviour;
    {
        std::lock_guard guard(shared->lock);
        shared->launches.push_back(launch);
        auto found = shared->programs.find(launch.program);
        if (found == shared->programs.end())
            return posixError("Could not start " + launch.program.string(), ENOENT);
        behaviour = found->second;
        ++shared->running;
    }
    // The behaviour may read or change the world: it runs outside the lock.
    SimProgram program = behaviour(launch);
    return std::unique_ptr<RunningProcess>(
        std::make_unique<SimRun>(clock, shared, launch, std::move(program)));
}

void SimProcesses::refuseSignals(int32_t processIdentifier) {
    std::lock_guard guard(shared->lock);
    shared->refused.insert(processIdentifier);
}

int SimProcesses::signalProbe(int32_t processIdentifier) {
    std::function<bool(int32_t)> isAlive;
    {
        std::lock_guard guard(shared->lock);
        if (shared->refused.count(processIdentifier)) return EPERM;
        isAlive = shared->isAlive;
    }
    return isAlive && isAlive(processIdentifier) ? 0 : ESRCH;
}

int32_t SimProcesses::addProcess(const std::string& name, double cpuShare, int32_t pid) {
    std::lock_guard guard(shared->lock);
    if (pid <= 0) {
        while (shared->table.count(shared->nextPid))
            ++shared->nextPid;
        pid = shared->nextPid++;
    }
    shared->table[pid] = {name, cpuShare, 0, clock.uptime()};
    return pid;
}

bool SimProcesses::endProcess(int32_t pid) {
    std::lock_guard guard(shared->lock);
    return shared->table.erase(pid) > 0;
}

void SimProcesses::setCpuShare(int32_t pid, double cpuShare) {
    std::lock_guard guard(shared->lock);
    auto found = shared->table.find(pid);
    if (found == shared->table.end()) return;
    double now = clock.uptime();
    found->second.accumulated += found->second.cpuShare * (now - found->second.since);
    found->second.since = now;
    found->second.cpuShare = cpuShare;
}

std::vector<SimProcesses::SentSignal> SimProcesses::signalsSent() {
    std::lock_guard guard(shared->lock);
    return shared->sent;
}

std::vector<int> SimProcesses::fatalSignals() {
    std::lock_guard guard(shared->lock);
    return shared->fatal;
}

std::vector<ProcessEntry> SimProcesses::list() {
    std::lock_guard guard(shared->lock);
    std::vector<ProcessEntry> entries;
    for (const auto& [pid, listed] : shared->table)
        entries.push_back({pid, listed.name});
    return entries;
}

std::optional<uint64_t> SimProcesses::cpuTime(int32_t pid) {
    std::lock_guard guard(shared->lock);
    auto found = shared->table.find(pid);
    if (found == shared->table.end()) return std::nullopt;
    const auto& listed = found->second;
    double seconds = listed.accumulated + listed.cpuShare * (clock.uptime() - listed.since);
    return uint64_t(seconds * 1e9 + 0.5);
}

int SimProcesses::sendSignal(int32_t pid, int signal) {
    std::vector<std::shared_ptr<Shared::Watch>> watching;
    {
        std::lock_guard guard(shared->lock);
        if (pid != currentProcessIdentifier()) {
            if (shared->refused.count(pid)) return EPERM;
            if (!shared->table.count(pid)) return ESRCH;
            shared->sent.push_back({pid, signal});
            return 0;
        }
        if (signal == 0) return 0;
        for (const auto& watch : shared->watches) {
            if (watch->signal == signal) watching.push_back(watch);
        }
        if (watching.empty()) shared->fatal.push_back(signal);
    }
    for (const auto& watch : watching) {
        watch->queue->async([watch] {
            if (watch->live) watch->handler();
        });
    }
    return 0;
}

ObservationToken SimProcesses::watchSignal(int signal, std::shared_ptr<Queue> queue, std::function<void()> handler) {
    auto watch = std::make_shared<Shared::Watch>(Shared::Watch{signal, std::move(queue), std::move(handler)});
    std::lock_guard guard(shared->lock);
    shared->watches.push_back(watch);
    return std::make_unique<SignalWatch>(shared, watch);
}

} // namespace tandem
