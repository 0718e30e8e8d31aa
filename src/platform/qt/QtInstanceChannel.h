#pragma once

#include "platform/Workspace.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QLocalServer;
class QLocalSocket;

namespace tandem {

// How one running copy of an application finds another of the same user on Linux, where nothing
// names applications by bundle identifier: the running application owns a local socket whose name
// comes from its bundle identifier and the user id, and answers two questions on it, its process id
// ("pid") and "come forward" ("activate <pid>").
//
// Only the application proper calls `listen`, so one-shot runs of the same program (the self-check,
// render jobs) and test programs never count as running. Questions wait at most `wait` seconds in
// all. An owner that accepts the connection but does not answer in time (its event loop not running
// yet) is still found: the kernel names the process that listens. A socket owned by another user is
// never believed.
//
// `listen`, and the channel's destruction, belong to the thread whose event loop serves the socket
// (the GUI thread); `find` and `activate` block the calling thread and may be called from any thread.
// The listening channel answers its own questions without the socket, so its thread never waits on
// itself.
class QtInstanceChannel {
public:
    // `serverName` empty: serverNameFor(bundleIdentifier).
    QtInstanceChannel(std::string bundleIdentifier, std::string applicationName, std::string serverName = {},
                      double wait = 0.5);
    ~QtInstanceChannel();
    QtInstanceChannel(const QtInstanceChannel&) = delete;
    QtInstanceChannel& operator=(const QtInstanceChannel&) = delete;

    // "<runtime folder>/<bundle identifier>.<uid>": $XDG_RUNTIME_DIR when it is a folder, else the
    // temporary folder.
    static std::string serverNameFor(const std::string& bundleIdentifier);

    // Claims the name for this process; `onActivate` is then called on this thread whenever another
    // copy asks this one to come forward. False when a live owner holds the name (or it cannot be
    // taken). A socket left behind by an owner that ended is taken over: only when nobody accepts a
    // connection on it. Two copies claiming at once take turns through a lock file beside the socket.
    bool listen(std::function<void()> onActivate);
    bool isListening() const;

    // The running owner, as the workspace lists it (this channel's bundle identifier and name).
    std::optional<RunningApplication> find();
    // Asks the owner with this process id to come forward; true once it has (its onActivate ran).
    bool activate(int32_t processIdentifier);

    const std::string& serverName() const;

private:
    void answer(QLocalSocket* socket);

    std::string bundleIdentifier;
    std::string applicationName;
    std::string name;
    double wait;
    std::function<void()> onActivate;
    std::unique_ptr<QLocalServer> server;
    std::atomic<bool> listening{false};
};

} // namespace tandem
