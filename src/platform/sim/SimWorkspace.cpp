#include "platform/sim/SimWorkspace.h"

#include <algorithm>

namespace tandem {

int32_t SimWorkspace::launch(const std::string& bundleIdentifier, const std::string& name) {
    std::lock_guard guard(lock);
    applications.push_back({bundleIdentifier, nextProcess, false, name.empty() ? bundleIdentifier : name});
    return nextProcess++;
}

void SimWorkspace::terminate(const std::string& bundleIdentifier) {
    std::lock_guard guard(lock);
    for (auto& application : applications) {
        if (application.bundleIdentifier == bundleIdentifier) application.terminated = true;
    }
}

void SimWorkspace::reap() {
    std::lock_guard guard(lock);
    std::erase_if(applications, [](const RunningApplication& application) { return application.terminated; });
}

std::vector<RunningApplication> SimWorkspace::runningApplications() {
    std::lock_guard guard(lock);
    return applications;
}

} // namespace tandem
