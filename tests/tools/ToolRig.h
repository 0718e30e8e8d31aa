#pragma once

#include "base/SimTime.h"
#include "platform/sim/SimAudioDevices.h"
#include "platform/sim/SimDisplays.h"
#include "platform/sim/SimHid.h"
#include "platform/sim/SimMidiSystem.h"
#include "platform/sim/SimMpcTouch.h"
#include "platform/sim/SimPower.h"
#include "platform/sim/SimProcesses.h"
#include "platform/sim/SimSystemLog.h"
#include "platform/sim/SimUsbHost.h"
#include "support/ScratchHome.h"
#include "tools/ToolWorld.h"

#include <cstdlib>
#include <ctime>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace tandem {
namespace vigil {
int run(const std::vector<std::string>& arguments, ToolWorld& world, std::ostream& out, std::ostream& err);
}
namespace census {
int run(const std::vector<std::string>& arguments, ToolWorld& world, std::ostream& out, std::ostream& err);
}
namespace rekick {
int run(const std::vector<std::string>& arguments, ToolWorld& world, std::ostream& out, std::ostream& err);
}
} // namespace tandem

namespace tandem::testing {

// The simulated processes, counting the scans of the whole process table.
class CountingProcesses final : public Processes {
public:
    explicit CountingProcesses(SimProcesses& inner)
        : inner(inner) {}
    int scans = 0;
    std::function<void()> onWatch = [] {};

    Result<std::unique_ptr<RunningProcess>> run(const ProcessLaunch& launch) override {
        return inner.run(launch);
    }
    uint32_t userIdentifier() override { return inner.userIdentifier(); }
    int32_t currentProcessIdentifier() override { return inner.currentProcessIdentifier(); }
    std::filesystem::path temporaryFolder() override { return inner.temporaryFolder(); }
    int signalProbe(int32_t pid) override { return inner.signalProbe(pid); }
    std::vector<ProcessEntry> list() override {
        ++scans;
        return inner.list();
    }
    std::optional<uint64_t> cpuTime(int32_t pid) override { return inner.cpuTime(pid); }
    int sendSignal(int32_t pid, int signal) override { return inner.sendSignal(pid, signal); }
    ObservationToken watchSignal(int signal, std::shared_ptr<Queue> queue,
                                 std::function<void()> handler) override {
        onWatch();
        return inner.watchSignal(signal, std::move(queue), std::move(handler));
    }

private:
    SimProcesses& inner;
};

// The simulated Mac as the tools see it: one virtual timeline, an MPC Touch with its whole body
// (plugged or not), scripted processes, log and power. The run loop runs `script`, which moves
// virtual time on; when it returns, the program ends.
struct ToolRig {
    explicit ToolRig(bool plugged = true, bool controllerOnRootPort = false) {
        setenv("TZ", "UTC", 1);
        tzset();
        mpc.attachBody({usb, hid, audio, displays, controllerOnRootPort});
        if (!plugged) mpc.unplug();
    }

    std::vector<std::string> lines() const {
        std::vector<std::string> result;
        std::istringstream text(out.str());
        for (std::string line; std::getline(text, line);)
            result.push_back(line);
        return result;
    }

    int vigil(std::vector<std::string> arguments = {}) {
        return tandem::vigil::run(arguments, world, out, err);
    }
    int census() { return tandem::census::run({}, world, out, err); }
    int rekick(std::vector<std::string> arguments = {}) {
        return tandem::rekick::run(arguments, world, out, err);
    }

    ScratchHome home;
    SimTime time;
    std::shared_ptr<Queue> main = time.makeQueue("main");
    std::shared_ptr<Queue> logReader = time.makeQueue("vigil.syslog");
    std::shared_ptr<Queue> midiThread = time.makeQueue("midi");
    SimMidiSystem midi{midiThread, time};
    SimUsbHost usb;
    SimHid hid;
    SimDisplays displays;
    SimAudioDevices audio;
    SimSystemLog systemLog;
    SimPower power;
    SimProcesses processes{time, home.path() / "tmp"};
    CountingProcesses counting{processes};
    SimMpcTouch mpc{midi, true};
    std::function<void()> script = [] {};
    std::ostringstream out, err;
    ToolWorld world{time,
                    main,
                    logReader,
                    midi,
                    usb,
                    hid,
                    displays,
                    audio,
                    systemLog,
                    power,
                    counting,
                    home.path(),
                    [this] { script(); },
                    [this](double seconds) { time.advance(seconds); }};
};

} // namespace tandem::testing
