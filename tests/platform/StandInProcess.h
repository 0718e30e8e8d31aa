#pragma once

#include "platform/linux/LinuxProcesses.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

namespace tandem::testing {

// A process of its own for windows to belong to, as Koala's do: it tells its number and waits.
class StandInProcess {
public:
    StandInProcess() {
        auto started =
            processes.run({"/bin/sh", {"-c", "echo $$; exec sleep 120"}, {}, ProcessLaunch::Output::pipe});
        if (!started) return;
        run = std::move(started.value());
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (run->output().find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::string text = run->output();
        if (text.find('\n') != std::string::npos) pid = std::stoi(text);
    }

    int32_t pid = 0; // 0 when it could not start

private:
    LinuxProcesses processes;
    std::unique_ptr<RunningProcess> run;
};

} // namespace tandem::testing
