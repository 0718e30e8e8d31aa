#pragma once

#include "platform/sim/SimPointer.h"
#include "platform/sim/SimProcesses.h"
#include "platform/sim/SimScreens.h"

#include <filesystem>
#include <map>
#include <mutex>

namespace tandem {

// The MPC Touch's touch driver (glassbridge) and the system's launchctl, simulated: the agent's files
// in the home folder, whether launchd has it loaded and running, its log with the start banner and a
// "screen (" line whenever the MPC's screen comes or goes, the installer script Tandem runs, and
// touches on the MPC's screen turned into pointer events. "/bin/launchctl" and "/bin/zsh" are
// installed into the simulated processes.
class SimTouchDriver {
public:
    enum class Agent { missing, installed, loaded, running };

    SimTouchDriver(SimProcesses& processes, SimScreens& screens, SimPointer& pointer,
                   std::shared_ptr<Queue> queue);
    ~SimTouchDriver();

    // Puts the agent in a state: files present or not, loaded, running (running logs its banner).
    void setAgent(Agent agent);
    Agent agent();

    // The installer's exit status (0, 10 or anything else) and output; or it never ends.
    void setInstaller(int exitStatus, std::string output = "");
    int installerStatus();
    void setInstallerHangs(bool hangs);
    // Every launchctl run hangs (until terminated).
    void setLaunchctlHangs(bool hangs);
    // A running driver that never maps the screen (its "screen (" lines say "not present").
    void setMapsScreen(bool maps);

    // How often launchctl ran with each verb ("print", "bootstrap", "kickstart"), and the installer.
    int runs(const std::string& verb);
    // The INKWELL_SOURCE the installer was given last.
    std::string installerSource();

    // A finger on the MPC's screen at a point in display coordinates: a press and a release reaching
    // whatever lies under it, when the driver runs and has mapped the screen.
    bool touch(Point at);
    // Whether a touch would get through now (the driver runs and has the MPC's screen mapped).
    bool mapped();

    static std::filesystem::path programPath();
    static std::filesystem::path agentPath();
    static std::filesystem::path logPath();

private:
    SimProgram launchctl(const ProcessLaunch& launch);
    SimProgram installer(const ProcessLaunch& launch);
    void startDriver(); // with the lock held
    void logScreen();   // with the lock held
    void log(const std::string& line);
    bool screenPresent();

    SimProcesses& processes;
    SimScreens& screens;
    SimPointer& pointer;
    std::shared_ptr<Queue> queue;
    ObservationToken screenChanges;

    std::recursive_mutex lock;
    bool loaded = false;
    bool isRunning = false;
    bool mapsScreen = true;
    int installerExit = 0;
    std::string installerOutput = "glassbridge installed for this user";
    bool installerHangs = false;
    bool launchctlHangs = false;
    std::map<std::string, int> counts;
    std::string source;
};

} // namespace tandem
