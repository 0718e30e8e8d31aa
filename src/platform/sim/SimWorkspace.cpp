#include "platform/sim/SimWorkspace.h"

#include <algorithm>

namespace tandem {

SimWorkspace::SimWorkspace(std::shared_ptr<Queue> queue)
    : queue(std::move(queue)) {}

void SimWorkspace::install(SimApplication& application, bool registered) {
    std::lock_guard guard(lock);
    installed[application.bundleIdentifier()] = {&application, registered};
}

int32_t SimWorkspace::launch(const std::string& bundleIdentifier, const std::string& name) {
    RunningApplication record;
    {
        std::lock_guard guard(lock);
        record = {bundleIdentifier, nextProcess++, false, name.empty() ? bundleIdentifier : name, true};
        applications.push_back(record);
    }
    launches.post(record);
    return record.processIdentifier;
}

void SimWorkspace::forceQuit(const std::string& bundleIdentifier) {
    std::vector<int32_t> running;
    {
        std::lock_guard guard(lock);
        for (auto& application : applications) {
            if (application.bundleIdentifier == bundleIdentifier && !application.terminated)
                running.push_back(application.processIdentifier);
        }
    }
    for (int32_t process : running)
        exit(process);
}

void SimWorkspace::vanish(int32_t processIdentifier) {
    std::lock_guard guard(lock);
    vanished.insert(processIdentifier);
}

bool SimWorkspace::hasVanished(int32_t processIdentifier) {
    std::lock_guard guard(lock);
    return vanished.count(processIdentifier) > 0;
}

void SimWorkspace::exit(int32_t processIdentifier) {
    RunningApplication record;
    SimApplication* application = nullptr;
    {
        std::lock_guard guard(lock);
        RunningApplication* found = find(processIdentifier);
        if (!found || found->terminated) return;
        found->terminated = true;
        record = *found;
        if (frontmost == processIdentifier) frontmost.reset();
        if (auto it = installed.find(record.bundleIdentifier); it != installed.end())
            application = it->second.application;
    }
    if (application) application->exited(processIdentifier);
    terminations.post(record);
}

void SimWorkspace::reap() {
    std::lock_guard guard(lock);
    std::erase_if(applications, [](const RunningApplication& application) { return application.terminated; });
}

void SimWorkspace::failNextOpen(std::optional<Error> error) {
    std::lock_guard guard(lock);
    openFails = true;
    openError = std::move(error);
}

std::vector<std::string> SimWorkspace::openedURLs() {
    std::lock_guard guard(lock);
    return urls;
}

int SimWorkspace::openCount(const std::string& bundleIdentifier) {
    std::lock_guard guard(lock);
    auto found = opens.find(bundleIdentifier);
    return found == opens.end() ? 0 : found->second;
}

int SimWorkspace::activations(int32_t processIdentifier) {
    std::lock_guard guard(lock);
    auto found = activationCounts.find(processIdentifier);
    return found == activationCounts.end() ? 0 : found->second;
}

RunningApplication* SimWorkspace::find(int32_t processIdentifier) {
    for (auto& application : applications) {
        if (application.processIdentifier == processIdentifier) return &application;
    }
    return nullptr;
}

SimApplication* SimWorkspace::behaviour(const std::string& bundleIdentifier) {
    std::lock_guard guard(lock);
    auto found = installed.find(bundleIdentifier);
    return found == installed.end() ? nullptr : found->second.application;
}

void SimWorkspace::later(double seconds, std::function<void()> task) {
    if (queue) {
        queue->after(seconds, std::move(task));
    } else {
        task();
    }
}

std::vector<RunningApplication> SimWorkspace::runningApplications() {
    std::lock_guard guard(lock);
    return applications;
}

std::optional<std::filesystem::path> SimWorkspace::urlForApplication(const std::string& bundleIdentifier) {
    std::lock_guard guard(lock);
    auto found = installed.find(bundleIdentifier);
    if (found == installed.end() || !found->second.registered) return std::nullopt;
    return found->second.application->location();
}

std::optional<std::string> SimWorkspace::applicationVersion(const std::filesystem::path& location) {
    std::lock_guard guard(lock);
    for (auto& [bundle, entry] : installed) {
        if (entry.application->location() == location) return entry.application->version();
    }
    return std::nullopt;
}

void SimWorkspace::openApplication(const std::filesystem::path& location, OpenCompletion completion) {
    SimApplication* application = nullptr;
    std::optional<RunningApplication> running;
    bool fails = false;
    std::optional<Error> error;
    RunningApplication record;
    {
        std::lock_guard guard(lock);
        if (std::exchange(openFails, false)) {
            fails = true;
            error = std::exchange(openError, std::nullopt);
        }
        for (auto& [bundle, entry] : installed) {
            if (entry.application->location() == location) application = entry.application;
        }
        if (!fails && !application) {
            fails = true;
            error = Error{"NSCocoaErrorDomain", 260,
                          "The application “" + location.filename().string() + "” could not be found."};
        }
        if (!fails) {
            ++opens[application->bundleIdentifier()];
            for (auto& existing : applications) {
                if (existing.bundleIdentifier == application->bundleIdentifier() && !existing.terminated)
                    running = existing;
            }
            if (!running) {
                record = {application->bundleIdentifier(), nextProcess++, false, application->name(), false};
                applications.push_back(record);
            }
        }
    }
    if (fails) {
        later(0, [completion, error] { completion(std::nullopt, error); });
        return;
    }
    if (running) {
        later(0, [completion, running] { completion(running, std::nullopt); });
        return;
    }
    const int32_t process = record.processIdentifier;
    later(application->launchDelay(), [this, application, process, completion] {
        std::optional<RunningApplication> now;
        {
            std::lock_guard guard(lock);
            if (RunningApplication* found = find(process); found && !found->terminated) {
                found->finishedLaunching = true;
                now = *found;
            }
        }
        if (!now) {
            completion(std::nullopt, std::nullopt);
            return;
        }
        application->launched(process);
        launches.post(*now);
        completion(now, std::nullopt);
    });
}

bool SimWorkspace::activate(int32_t processIdentifier, unsigned) {
    RunningApplication record;
    SimApplication* application = nullptr;
    {
        std::lock_guard guard(lock);
        RunningApplication* found = find(processIdentifier);
        if (!found || found->terminated) return false;
        frontmost = processIdentifier;
        ++activationCounts[processIdentifier];
        record = *found;
        if (auto it = installed.find(record.bundleIdentifier); it != installed.end())
            application = it->second.application;
    }
    if (application) application->activated(processIdentifier);
    activationNotices.post(record);
    return true;
}

bool SimWorkspace::terminate(int32_t processIdentifier) {
    std::string bundle;
    {
        std::lock_guard guard(lock);
        RunningApplication* found = find(processIdentifier);
        if (!found || found->terminated) return false;
        bundle = found->bundleIdentifier;
    }
    if (SimApplication* application = behaviour(bundle)) return application->quitRequested(processIdentifier);
    exit(processIdentifier);
    return true;
}

std::optional<RunningApplication> SimWorkspace::frontmostApplication() {
    std::lock_guard guard(lock);
    if (!frontmost) return std::nullopt;
    RunningApplication* found = find(*frontmost);
    if (!found || found->terminated) return std::nullopt;
    return *found;
}

ObservationToken SimWorkspace::observe(WorkspaceNotice notice, std::shared_ptr<Queue> queue,
                                       std::function<void(const RunningApplication&)> handler) {
    switch (notice) {
    case WorkspaceNotice::didLaunch:
        return launches.add(std::move(queue), std::move(handler));
    case WorkspaceNotice::didTerminate:
        return terminations.add(std::move(queue), std::move(handler));
    case WorkspaceNotice::didActivate:
        break;
    }
    return activationNotices.add(std::move(queue), std::move(handler));
}

bool SimWorkspace::openURL(const std::string& url) {
    std::lock_guard guard(lock);
    urls.push_back(url);
    return true;
}

} // namespace tandem
