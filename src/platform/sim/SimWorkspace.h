#pragma once

#include "platform/Workspace.h"
#include "platform/sim/SimNotices.h"

#include <map>
#include <mutex>
#include <set>

namespace tandem {

// How a simulated application behaves when the workspace opens, activates or asks it to quit. Its
// calls come on the workspace's queue; an application that accepted a quit ends itself later with
// `SimWorkspace::exit`.
class SimApplication {
public:
    virtual ~SimApplication() = default;
    virtual std::string bundleIdentifier() const = 0;
    virtual std::string name() const = 0;
    virtual std::filesystem::path location() const = 0;
    virtual std::optional<std::string> version() const { return std::nullopt; }
    // Seconds from being opened to having finished launching.
    virtual double launchDelay() const { return 0.5; }
    virtual void launched(int32_t /*processIdentifier*/) {}
    // False refuses the request.
    virtual bool quitRequested(int32_t processIdentifier) = 0;
    virtual void activated(int32_t /*processIdentifier*/) {}
    virtual void exited(int32_t /*processIdentifier*/) {}
};

// A simulated session. Applications with a behaviour are installed and opened; others are simply
// launched by bundle identifier. Opening takes the application's launch delay on `queue`; with no
// queue everything happens at once. Thread-safe.
class SimWorkspace final : public Workspace {
public:
    explicit SimWorkspace(std::shared_ptr<Queue> queue = nullptr);

    // `registered` false: the system does not know where it is installed (urlForApplication).
    void install(SimApplication& application, bool registered = true);
    // Starts a behaviourless application (finished launching at once) and returns its process id.
    int32_t launch(const std::string& bundleIdentifier, const std::string& name = "");
    // Every running copy of the application ends now, whatever it would say (a crash, a kill).
    void forceQuit(const std::string& bundleIdentifier);
    // The process ended: terminated, no longer frontmost, the application told, observers notified.
    void exit(int32_t processIdentifier);
    // Forgets terminated applications.
    void reap();
    // The process is gone (killed) but the workspace has not noticed: it is still listed as running
    // and no notice goes out. Only a signal to it tells.
    void vanish(int32_t processIdentifier);
    bool hasVanished(int32_t processIdentifier);
    // The next open fails: with that error, or with none at all.
    void failNextOpen(std::optional<Error> error);

    std::vector<std::string> openedURLs();
    int openCount(const std::string& bundleIdentifier);
    int activations(int32_t processIdentifier);

    std::vector<RunningApplication> runningApplications() override;
    std::optional<std::filesystem::path> urlForApplication(const std::string& bundleIdentifier) override;
    std::optional<std::string> applicationVersion(const std::filesystem::path& location) override;
    void openApplication(const std::filesystem::path& location, OpenCompletion completion) override;
    bool activate(int32_t processIdentifier, unsigned options) override;
    bool terminate(int32_t processIdentifier) override;
    std::optional<RunningApplication> frontmostApplication() override;
    ObservationToken observe(WorkspaceNotice notice, std::shared_ptr<Queue> queue,
                             std::function<void(const RunningApplication&)> handler) override;
    bool openURL(const std::string& url) override;

private:
    struct Installed {
        SimApplication* application;
        bool registered;
    };
    RunningApplication* find(int32_t processIdentifier); // with the lock held
    SimApplication* behaviour(const std::string& bundleIdentifier);
    void later(double seconds, std::function<void()> task);

    std::shared_ptr<Queue> queue;
    std::mutex lock;
    std::vector<RunningApplication> applications;
    std::set<int32_t> vanished;
    std::map<std::string, Installed> installed;
    std::map<std::string, int> opens;
    std::map<int32_t, int> activationCounts;
    std::vector<std::string> urls;
    std::optional<int32_t> frontmost;
    bool openFails = false;
    std::optional<Error> openError;
    int32_t nextProcess = 501;
    SimNotices<RunningApplication> launches, terminations, activationNotices;
};

} // namespace tandem
