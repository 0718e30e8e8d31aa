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

} // namespace tandem
