#pragma once

#include "platform/Workspace.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace tandem {

namespace x11 {
class Connection;
}

// Running applications read from /proc. Linux has no bundle identifiers, so each identifier Tandem
// asks about is matched to the executable names that stand for it.
//
// An application is installed where the first executable of one of its names is on $PATH. Opening
// one starts the program in a session of its own (or hands back the copy already running from that
// very file) and reaps it when it ends; the completion comes on a thread of its own. Activation and
// the frontmost application go through the X server: EWMH's _NET_ACTIVE_WINDOW with a window manager,
// else raising the windows and giving the front one the input focus; without an X server, or for a
// process without a window (_NET_WM_PID), there is none. Notices come from a thread per observation
// that compares /proc and the active window four times a second (a program that starts and ends
// between two looks goes unnoticed). URLs open with xdg-open.
//
// An application that /proc cannot name (Tandem itself: any process of the program may be a one-shot
// job rather than the application) is answered for by a hook instead; see answerFor.
class LinuxWorkspace final : public Workspace {
public:
    // bundle identifier → executable name (as /proc/<pid>/comm shows it)
    using Names = std::multimap<std::string, std::string>;

    explicit LinuxWorkspace(Names names = defaultNames(), std::filesystem::path proc = "/proc");
    ~LinuxWorkspace() override;

    std::vector<RunningApplication> runningApplications() override;
    std::optional<std::filesystem::path> urlForApplication(const std::string& bundleIdentifier) override;
    // Linux programs declare no version the way a Mac bundle does: always nothing.
    std::optional<std::string> applicationVersion(const std::filesystem::path& location) override;
    void openApplication(const std::filesystem::path& location, OpenCompletion completion) override;
    bool activate(int32_t processIdentifier, unsigned options) override;
    bool terminate(int32_t processIdentifier) override;
    std::optional<RunningApplication> frontmostApplication() override;
    ObservationToken observe(WorkspaceNotice notice, std::shared_ptr<Queue> queue,
                             std::function<void(const RunningApplication&)> handler) override;
    bool openURL(const std::string& url) override;

    // From now on the application with `bundleIdentifier` is whatever `find` reports (it is no longer
    // looked for in /proc), and activating the process `find` reports goes through `activate` (with the
    // process id and the options). Both may be called on any thread and may block briefly.
    using FindApplication = std::function<std::optional<RunningApplication>()>;
    using ActivateApplication = std::function<bool(int32_t processIdentifier, unsigned options)>;
    void answerFor(std::string bundleIdentifier, FindApplication find, ActivateApplication activate);

    static Names defaultNames();
    // How often an observation looks.
    static constexpr double pollInterval = 0.25;

private:
    struct Answer {
        std::string bundleIdentifier;
        FindApplication find;
        ActivateApplication activate;
    };
    std::optional<Answer> answer() const;

    Names names;
    std::filesystem::path proc;
    std::unique_ptr<x11::Connection> display;
    mutable std::mutex answerLock;
    std::optional<Answer> answered;
};

} // namespace tandem
