#pragma once

#include "base/Clock.h"
#include "base/FileSystem.h"
#include "base/Queue.h"
#include "platform/Processes.h"
#include "platform/Workspace.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tandem {

// Makes sure the MPC Touch's touch driver (the glassbridge launch agent) is installed, loaded, running
// and has mapped the MPC's screen, and says in one sentence whether the MPC Touch is ready. It never
// talks to the driver: it looks at files, runs launchctl and reads the driver's log. No state.
namespace TouchService {

struct Result {
    bool ready = false;
    std::string message;
    bool recoveryAttempted = false;
    bool operator==(const Result&) const = default;
};

struct Services {
    Processes& processes;
    Workspace& workspace;
    Clock& clock;
    // A background queue whose tasks may block (sleeps, process waits), and the main queue.
    std::shared_ptr<Queue> worker;
    std::shared_ptr<Queue> mainQueue;
    // Tandem's resources, holding "GlassbridgeDriver/glassbridge" and "install-for-user.sh".
    std::filesystem::path resources;
    FileSystem& disk = FileSystem::local();
};

inline constexpr const char* agentLabel = "com.quillon.glassbridge";
// How long the installer may run before Tandem gives up on it.
inline constexpr double installTimeout = 120;

// Runs the check on the worker queue and delivers its result on the main queue.
void prepare(const Services& services, std::optional<uint32_t> mpcDisplayID, bool allowRecovery,
             std::function<void(Result)> completion);

// The check itself; blocks its thread.
Result prepareOnWorker(const Services& services, std::optional<uint32_t> mpcDisplayID, bool allowRecovery);

struct Installation {
    bool installed = false;
    bool needsAccessibility = false;
    std::string message;
    bool operator==(const Installation&) const = default;
};
Installation installDriver(const Services& services);

struct Command {
    int32_t status = 0;
    std::string output;
    bool operator==(const Command&) const = default;
};
// Runs /bin/launchctl with its output captured; a run that takes longer than 4 s is cut off.
Command runLaunchctl(const Services& services, const std::vector<std::string>& arguments);

// Whether the driver's log says the MPC's screen is mapped (to that display, when one is given); none
// when the log cannot be read or holds no screen report.
std::optional<bool> screenMapped(const std::filesystem::path& log, std::optional<uint32_t> expectedDisplayID,
                                 FileSystem& disk = FileSystem::local());

// The files of the installed agent under the home folder.
std::filesystem::path driverProgram();
std::filesystem::path agentDefinition();
std::filesystem::path driverLog();

} // namespace TouchService

} // namespace tandem
