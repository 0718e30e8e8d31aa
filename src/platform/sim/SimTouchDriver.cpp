#include "platform/sim/SimTouchDriver.h"

#include "base/FileSystem.h"
#include "base/Paths.h"

namespace tandem {

namespace {

constexpr const char* label = "com.quillon.glassbridge";
constexpr const char* mpcScreenName = "MPC Touch";

std::string target() {
    return std::string("gui/501/") + label;
}

} // namespace

SimTouchDriver::SimTouchDriver(SimProcesses& processes, SimScreens& screens, SimPointer& pointer,
                               std::shared_ptr<Queue> queue)
    : processes(processes)
    , screens(screens)
    , pointer(pointer)
    , queue(std::move(queue)) {
    processes.install("/bin/launchctl", [this](const ProcessLaunch& launch) { return launchctl(launch); });
    processes.install("/bin/zsh", [this](const ProcessLaunch& launch) { return installer(launch); });
    screenChanges = screens.observeChanges(this->queue, [this] {
        std::lock_guard guard(lock);
        if (isRunning) logScreen();
    });
}

SimTouchDriver::~SimTouchDriver() {
    screenChanges.reset();
    processes.uninstall("/bin/launchctl");
    processes.uninstall("/bin/zsh");
}

std::filesystem::path SimTouchDriver::programPath() {
    return Paths::home() / "Library/Application Support/Glassbridge Driver/glassbridge";
}

std::filesystem::path SimTouchDriver::agentPath() {
    return Paths::home() / "Library/LaunchAgents/com.quillon.glassbridge.plist";
}

std::filesystem::path SimTouchDriver::logPath() {
    return Paths::home() / "Library/Logs/glassbridge.log";
}

void SimTouchDriver::setAgent(Agent agent) {
    std::lock_guard guard(lock);
    FileSystem& disk = FileSystem::local();
    if (agent == Agent::missing) {
        (void)disk.remove(programPath());
        (void)disk.remove(agentPath());
    } else {
        (void)disk.createDirectories(programPath().parent_path());
        (void)disk.createDirectories(agentPath().parent_path());
        (void)disk.writeFile(programPath(), "#!glassbridge\n");
        (void)disk.writeFile(agentPath(), std::string("<plist><dict><key>Label</key><string>") + label +
                                              "</string></dict></plist>\n");
    }
    loaded = agent == Agent::loaded || agent == Agent::running;
    isRunning = false;
    if (agent == Agent::running) startDriver();
}

SimTouchDriver::Agent SimTouchDriver::agent() {
    std::lock_guard guard(lock);
    if (!FileSystem::local().exists(programPath()) || !FileSystem::local().exists(agentPath()))
        return Agent::missing;
    return isRunning ? Agent::running : loaded ? Agent::loaded : Agent::installed;
}

void SimTouchDriver::setInstaller(int exitStatus, std::string output) {
    std::lock_guard guard(lock);
    installerExit = exitStatus;
    installerOutput = std::move(output);
}

int SimTouchDriver::installerStatus() {
    std::lock_guard guard(lock);
    return installerExit;
}

void SimTouchDriver::setInstallerHangs(bool hangs) {
    std::lock_guard guard(lock);
    installerHangs = hangs;
}

void SimTouchDriver::setLaunchctlHangs(bool hangs) {
    std::lock_guard guard(lock);
    launchctlHangs = hangs;
}

void SimTouchDriver::setMapsScreen(bool maps) {
    std::lock_guard guard(lock);
    mapsScreen = maps;
    if (isRunning) logScreen();
}

int SimTouchDriver::runs(const std::string& verb) {
    std::lock_guard guard(lock);
    auto found = counts.find(verb);
    return found == counts.end() ? 0 : found->second;
}

std::string SimTouchDriver::installerSource() {
    std::lock_guard guard(lock);
    return source;
}

bool SimTouchDriver::screenPresent() {
    for (const Screen& screen : screens.screens()) {
        if (screen.name == mpcScreenName) return true;
    }
    return false;
}

void SimTouchDriver::log(const std::string& line) {
    FileSystem& disk = FileSystem::local();
    (void)disk.createDirectories(logPath().parent_path());
    std::string bytes = disk.readFile(logPath()).value_or("");
    (void)disk.writeFile(logPath(), bytes + line + "\n");
}

void SimTouchDriver::startDriver() {
    isRunning = true;
    log("glassbridge v3 started (pid 733)");
    logScreen();
}

void SimTouchDriver::logScreen() {
    for (const Screen& screen : screens.screens()) {
        if (screen.name == mpcScreenName && mapsScreen && screen.number) {
            log("screen (" + screen.name + "): display " + std::to_string(*screen.number) + ", " +
                std::to_string(int(screen.frame.width)) + "x" + std::to_string(int(screen.frame.height)));
            return;
        }
    }
    log(std::string("screen (") + mpcScreenName + "): not present");
}

SimProgram SimTouchDriver::launchctl(const ProcessLaunch& launch) {
    std::lock_guard guard(lock);
    const auto& arguments = launch.arguments;
    const std::string verb = arguments.empty() ? "" : arguments[0];
    ++counts[verb];
    SimProgram program;
    program.duration = 0.03;
    program.hangs = launchctlHangs;
    const bool installed =
        FileSystem::local().exists(programPath()) && FileSystem::local().exists(agentPath());
    if (verb == "print" && arguments.size() == 2 && arguments[1] == target()) {
        if (!loaded) {
            program.exitStatus = 113;
            program.output = "Bad request.\nCould not find service \"com.quillon.glassbridge\" in domain for "
                             "user gui: 501\n";
        } else {
            program.output = target() + " = {\n\tactive count = " + (isRunning ? "1" : "0") +
                             "\n\tpath = " + agentPath().string() +
                             "\n\tstate = " + (isRunning ? "running" : "not running") + "\n}\n";
        }
    } else if (verb == "bootstrap" && arguments.size() == 3 && arguments[1] == "gui/501") {
        if (!installed || arguments[2] != agentPath().string()) {
            program.exitStatus = 5;
            program.output = "Bootstrap failed: 5: Input/output error\n";
        } else if (loaded) {
            program.exitStatus = 37;
            program.output = "Bootstrap failed: 37: Operation already in progress\n";
        } else {
            program.atExit = [this] {
                std::lock_guard guard(lock);
                loaded = true;
                startDriver();
            };
        }
    } else if (verb == "kickstart" && arguments.size() == 3 && arguments[1] == "-k" &&
               arguments[2] == target()) {
        if (!loaded) {
            program.exitStatus = 113;
            program.output =
                "Could not find service \"com.quillon.glassbridge\" in domain for user gui: 501\n";
        } else {
            program.atExit = [this] {
                std::lock_guard guard(lock);
                startDriver();
            };
        }
    } else {
        program.exitStatus = 64;
        program.output = "Usage: launchctl <subcommand> ... | help [subcommand]\n";
    }
    return program;
}

SimProgram SimTouchDriver::installer(const ProcessLaunch& launch) {
    std::lock_guard guard(lock);
    ++counts["install"];
    auto found = launch.environment.find("INKWELL_SOURCE");
    source = found == launch.environment.end() ? "" : found->second;
    SimProgram program;
    program.duration = 1.5;
    program.hangs = installerHangs;
    program.exitStatus = installerExit;
    program.output = installerOutput + "\n";
    const bool installs = installerExit == 0 || installerExit == 10;
    const bool fromSource =
        !source.empty() && FileSystem::local().exists(std::filesystem::path(source) / "glassbridge");
    if (installs && !fromSource) {
        program.exitStatus = 1;
        program.output = "INKWELL_SOURCE does not hold glassbridge\n";
    } else if (installs) {
        program.atExit = [] {
            FileSystem& disk = FileSystem::local();
            (void)disk.createDirectories(programPath().parent_path());
            (void)disk.createDirectories(agentPath().parent_path());
            (void)disk.writeFile(programPath(), "#!glassbridge\n");
            (void)disk.writeFile(agentPath(), std::string("<plist><dict><key>Label</key><string>") + label +
                                                  "</string></dict></plist>\n");
        };
    }
    return program;
}

bool SimTouchDriver::mapped() {
    std::lock_guard guard(lock);
    return isRunning && mapsScreen && screenPresent();
}

bool SimTouchDriver::touch(Point at) {
    if (!mapped()) return false;
    pointer.press(at);
    pointer.release(at);
    return true;
}

} // namespace tandem
