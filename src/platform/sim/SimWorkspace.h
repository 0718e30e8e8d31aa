#pragma once

#include "platform/Workspace.h"

#include <mutex>

namespace tandem {

// A simulated session: tests launch and quit applications by bundle identifier. Thread-safe.
class SimWorkspace final : public Workspace {
public:
    // Starts an application and returns its process id.
    int32_t launch(const std::string& bundleIdentifier, const std::string& name = "");
    // Marks every running copy of the application terminated; they stay listed, as a workspace keeps
    // a terminated application's record until it is reaped.
    void terminate(const std::string& bundleIdentifier);
    // Forgets terminated applications.
    void reap();

    std::vector<RunningApplication> runningApplications() override;

private:
    std::mutex lock;
    std::vector<RunningApplication> applications;
    int32_t nextProcess = 501;
};

} // namespace tandem
