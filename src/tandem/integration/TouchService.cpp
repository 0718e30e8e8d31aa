#include "tandem/integration/TouchService.h"

#include "base/ActivityLog.h"
#include "base/Paths.h"
#include "base/Text.h"
#include "base/Uuid.h"

#include <cstring>

namespace tandem::TouchService {

namespace fs = std::filesystem;

namespace {

constexpr size_t logTail = 262144;
constexpr double launchctlTimeout = 4.0;
constexpr double launchctlPoll = 0.02;
constexpr double installPoll = 0.05;
constexpr int readinessTries = 24;
constexpr double readinessPause = 0.25;
constexpr const char* banner = "glassbridge v3 started";
constexpr const char* accessibilityPane =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility";

std::string domain(const Services& services) {
    return "gui/" + std::to_string(services.processes.userIdentifier());
}

std::string target(const Services& services) {
    return domain(services) + "/" + agentLabel;
}

bool runningIn(const Command& command) {
    return command.status == 0 && command.output.find("state = running") != std::string::npos;
}

} // namespace

fs::path driverProgram() {
    return Paths::home() / "Library/Application Support/Glassbridge Driver/glassbridge";
}

fs::path agentDefinition() {
    return Paths::home() / "Library/LaunchAgents/com.quillon.glassbridge.plist";
}

fs::path driverLog() {
    return Paths::home() / "Library/Logs/glassbridge.log";
}

std::optional<bool> screenMapped(const fs::path& log, std::optional<uint32_t> expectedDisplayID,
                                 FileSystem& disk) {
    // Polled every quarter second while the MPC path waits: one read, no allocation once warm.
    thread_local std::string tail;
    if (!disk.readTail(log, logTail, tail)) return std::nullopt;
    // The searched texts are ASCII, so they match the same in the raw bytes as in the bytes with any
    // ill-formed UTF-8 replaced; nothing needs decoding.
    const std::string_view text(tail);

    // The last screen report decides, unless the driver started again after it. Walking back from
    // the end stops at whichever of the two comes first.
    size_t end = text.size();
    while (end > 0) {
        const void* newline = memrchr(text.data(), '\n', end);
        const size_t start = newline ? size_t(static_cast<const char*>(newline) - text.data()) + 1 : 0;
        const std::string_view line = text.substr(start, end - start);
        if (line.find("screen (") != std::string_view::npos) {
            const bool absent = line.find("not present") != std::string_view::npos;
            if (!expectedDisplayID || absent) return !absent;
            return line.find("display " + std::to_string(*expectedDisplayID) + ",") != std::string_view::npos;
        }
        if (line.find(banner) != std::string_view::npos) return std::nullopt;
        if (start == 0) break;
        end = start - 1;
    }
    return std::nullopt;
}

Command runLaunchctl(const Services& services, const std::vector<std::string>& arguments) {
    const fs::path capture =
        services.processes.temporaryFolder() / ("tandem-launchctl-" + Uuid::make() + ".log");
    if (!services.disk.writeFile(capture, "")) return {-1, "Could not capture touch service status"};
    struct Removal {
        FileSystem& disk;
        fs::path path;
        ~Removal() { (void)disk.remove(path); }
    } removal{services.disk, capture};

    ProcessLaunch launch{"/bin/launchctl", arguments, {}, ProcessLaunch::Output::file, capture};
    auto started = services.processes.run(launch);
    if (!started) return {-1, started.error().description};
    RunningProcess& process = **started;

    const double deadline = services.clock.uptime() + launchctlTimeout;
    while (process.isRunning()) {
        if (services.clock.uptime() >= deadline) {
            process.terminate();
            return {-1, "Touch service command timed out"};
        }
        services.clock.sleep(launchctlPoll);
    }
    auto output = services.disk.readFile(capture);
    return {process.terminationStatus().value_or(-1), Text::trimmed(Text::repairUtf8(output.value_or("")))};
}

Installation installDriver(const Services& services) {
    const fs::path script = services.resources / "install-for-user.sh";
    const fs::path source = services.resources / "GlassbridgeDriver";
    if (!services.disk.exists(script) || !services.disk.isDirectory(services.resources) ||
        !services.disk.exists(source / "glassbridge")) {
        return {false, false, "Tandem's copy of the driver is missing; reinstall Tandem."};
    }
    ProcessLaunch launch{"/bin/zsh",
                         {script.string()},
                         {{"INKWELL_SOURCE", source.string()}},
                         ProcessLaunch::Output::pipe,
                         {}};
    auto started = services.processes.run(launch);
    if (!started) return {false, false, started.error().description};
    RunningProcess& process = **started;

    // A script that never ends would hold the MPC path in preparation for ever.
    const double deadline = services.clock.uptime() + installTimeout;
    while (process.isRunning()) {
        if (services.clock.uptime() >= deadline) {
            process.terminate();
            ActivityLog::write("touch driver install · timed out after " +
                               std::to_string(int(installTimeout)) + " s");
            return {false, false, "Touch driver install timed out"};
        }
        services.clock.sleep(installPoll);
    }
    const std::string output = process.output();
    const std::string message = Text::isValidUtf8(output) ? Text::trimmed(output) : "";
    const int status = process.terminationStatus().value_or(-1);
    ActivityLog::write("touch driver install · exit " + std::to_string(status) + " · " + message);
    if (status == 0) return {true, false, message};
    if (status == 10) return {true, true, message};
    return {false, false, message};
}

Result prepareOnWorker(const Services& services, std::optional<uint32_t> mpcDisplayID, bool allowRecovery) {
    bool recovery = false;
    FileSystem& disk = services.disk;
    if (!disk.exists(driverProgram()) || !disk.exists(agentDefinition())) {
        if (!allowRecovery) return {false, "The touch driver isn't installed yet.", false};
        Installation installation = installDriver(services);
        if (!installation.installed)
            return {false, "The touch driver couldn't be installed: " + installation.message, true};
        if (installation.needsAccessibility) {
            services.mainQueue->async(
                [&workspace = services.workspace] { workspace.openURL(accessibilityPane); });
            return {false,
                    "Touch driver installed. Allow glassbridge in Privacy & Security › Accessibility; Tandem "
                    "carries on by itself.",
                    true};
        }
        recovery = true;
    }

    Command printed = runLaunchctl(services, {"print", target(services)});
    if (printed.status != 0) {
        if (!allowRecovery) return {false, "Touch service is not loaded.", recovery};
        Command bootstrapped =
            runLaunchctl(services, {"bootstrap", domain(services), agentDefinition().string()});
        if (bootstrapped.status != 0)
            return {false, "Could not start the installed touch service: " + bootstrapped.output, true};
        recovery = true;
    } else if (!runningIn(printed) ||
               (mpcDisplayID && screenMapped(driverLog(), mpcDisplayID, disk) != true)) {
        if (!allowRecovery) return {false, "Touch service needs a restart.", recovery};
        Command restarted = runLaunchctl(services, {"kickstart", "-k", target(services)});
        if (restarted.status != 0)
            return {false, "Could not restart the installed touch service: " + restarted.output, true};
        recovery = true;
    }

    for (int attempt = 0; attempt < readinessTries; ++attempt) {
        Command check = runLaunchctl(services, {"print", target(services)});
        if (runningIn(check) && screenMapped(driverLog(), mpcDisplayID, disk) == true)
            return {true, "MPC touch ready", recovery};
        services.clock.sleep(readinessPause);
    }
    return {false,
            mpcDisplayID
                ? "The touch driver is running, but the MPC's screen isn't mapped yet (waiting for it)…"
                : "The MPC Touch's screen isn't there yet (DisplayLink). Tandem carries on when macOS "
                  "sees it.",
            recovery};
}

void prepare(const Services& services, std::optional<uint32_t> mpcDisplayID, bool allowRecovery,
             std::function<void(Result)> completion) {
    services.worker->async([services, mpcDisplayID, allowRecovery, completion = std::move(completion)] {
        Result result = prepareOnWorker(services, mpcDisplayID, allowRecovery);
        services.mainQueue->async([completion, result] { completion(result); });
    });
}

} // namespace tandem::TouchService
