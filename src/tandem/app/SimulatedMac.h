#pragma once

#include "platform/sim/SimDefaults.h"
#include "platform/sim/SimDesktop.h"
#include "platform/sim/SimRig.h"
#include "tandem/app/TandemApp.h"

#include <cstdio>
#include <filesystem>
#include <memory>

namespace tandem {

// Tandem's real application on the simulated Mac: TandemApp wired to the rig's ports and a simulated
// desktop, on the rig's one virtual timeline. Tests, the demo and the simulated rig window all run
// it. The home folder ($HOME) must already point where the simulated Mac's files may live.
class SimulatedMac {
public:
    // `scratch` holds the rig's own files; the MPC set-up's transcript goes to `transcript`. The
    // application uses `shell` for its menus and windows when given (a real desktop showing the
    // simulated Mac), else `desktop`; either way the rig keeps its cards in `desktop`, where the rig
    // draws them on the simulated screens.
    explicit SimulatedMac(const std::filesystem::path& scratch, std::FILE* transcript = nullptr,
                          PushPreview* pushPreview = nullptr, Desktop* shell = nullptr);
    ~SimulatedMac();
    SimulatedMac(const SimulatedMac&) = delete;
    SimulatedMac& operator=(const SimulatedMac&) = delete;

    // Tandem starts: its menus and the choice window.
    void launch();
    // Runs Tandem's termination handler, once: what the application's event loop does as it ends.
    void applicationEnded();
    // Whether Tandem has ended (its termination handler ran), and when.
    bool ended() const { return hasEnded; }
    double endedAt() const { return endTime; }

    SimRig rig;
    SimDesktop desktop;
    SimDefaults defaults;
    KoalaPerformanceFeed feed{rig.time};
    std::shared_ptr<TandemApp> app;

private:
    std::FILE* quiet = nullptr;
    bool hasEnded = false;
    double endTime = -1;
};

} // namespace tandem
