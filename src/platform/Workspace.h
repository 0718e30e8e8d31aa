#pragma once

#include "base/Error.h"
#include "base/Queue.h"
#include "platform/Observation.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tandem {

struct RunningApplication {
    std::string bundleIdentifier;
    int32_t processIdentifier = 0;
    bool terminated = false;
    std::string localizedName;
    bool finishedLaunching = true;

    bool operator==(const RunningApplication&) const = default;
};

// Activation options as the workspace takes them (3 = both).
enum ActivationOptions : unsigned {
    activateAllWindows = 1,
    activateIgnoringOtherApps = 2,
};

enum class WorkspaceNotice { didLaunch, didTerminate, didActivate };

// The applications of the user's session: listing, locating, opening, activating and asking them to
// quit, and notices of their launching, ending and activation.
class Workspace {
public:
    virtual ~Workspace() = default;

    virtual std::vector<RunningApplication> runningApplications() = 0;
    // The live record of one process; nothing once the workspace no longer lists it.
    virtual std::optional<RunningApplication> application(int32_t processIdentifier);

    // Where the application with this bundle identifier is installed, when the system knows.
    virtual std::optional<std::filesystem::path> urlForApplication(const std::string& bundleIdentifier) = 0;
    // The version the application at `location` declares ("CFBundleShortVersionString"), if any.
    virtual std::optional<std::string> applicationVersion(const std::filesystem::path& location) = 0;
    // Opens (or finds already running) the application at `location`. `completion` receives the
    // application, or nothing and an error when there is one, exactly once, later and on any thread.
    using OpenCompletion = std::function<void(std::optional<RunningApplication>, std::optional<Error>)>;
    virtual void openApplication(const std::filesystem::path& location, OpenCompletion completion) = 0;

    // `options` is a combination of ActivationOptions. False when the application could not be asked.
    virtual bool activate(int32_t processIdentifier, unsigned options) = 0;
    // Asks the application to quit; false when it refused the request (it may still quit later).
    virtual bool terminate(int32_t processIdentifier) = 0;
    virtual std::optional<RunningApplication> frontmostApplication() = 0;

    // Delivers each notice about any application on `queue` until the token is destroyed.
    virtual ObservationToken observe(WorkspaceNotice notice, std::shared_ptr<Queue> queue,
                                     std::function<void(const RunningApplication&)> handler) = 0;

    // Opens a URL (a settings page, a web address) with the system's handler.
    virtual bool openURL(const std::string& url) = 0;
};

inline std::optional<RunningApplication> Workspace::application(int32_t processIdentifier) {
    for (const RunningApplication& application : runningApplications()) {
        if (application.processIdentifier == processIdentifier) return application;
    }
    return std::nullopt;
}

} // namespace tandem
