#pragma once

#include <QWidget>

#include <memory>

namespace tandem {

class SimulatedMac;

// The "Tandem rig" window of the simulated Mac: the screens with what lies on them (a click on the
// MPC screen is a touch through the simulated driver), the MPC Touch and the Push 2 to play, Koala's
// state with its misbehaviours, the switches that plug, unplug and break things, the status line and
// the log's last lines. It repaints on a timer of its own and never moves the rig's time: whoever runs
// the rig does. GUI thread only, the thread that runs the rig's time; it must not outlive `mac`.
//
// Parts carry object names for whoever drives the window: the views "screens", "mpcTouch", "push2";
// the buttons "koalaQuit", "koalaKill", "driverReset"; the check boxes "saveDialog", "refusesQuit",
// "mpcPlugged", "pushPlugged", "inkwellRunning", "accessibilityTrusted", "installerNeedsPermission";
// the choice "mpcDisplay" (unplugged, left of the main screen, above it); the labels "koalaRunning",
// "koalaSettings", "koalaProfile", "koalaPage", "koalaBank", "notesTandem", "notesTandemPush",
// "driverState", "status"; and the log's tail "log".
class RigWindow final : public QWidget {
public:
    explicit RigWindow(SimulatedMac& mac, QWidget* parent = nullptr);
    ~RigWindow() override;

    // Reads the rig into every label and switch, the files into the profile and the log's tail, and
    // repaints the pictures. The window's timers call it; so may anyone who just changed the rig.
    void refresh();

    static constexpr int frameMilliseconds = 33;   // the pictures, about 30 times a second
    static constexpr int filesMilliseconds = 500;  // Koala's settings files and the log, read from disk
    static constexpr double saveDialogSeconds = 6; // longer than Tandem waits for Koala to close (5 s)
    static constexpr size_t logLines = 14;
    static constexpr size_t noteLines = 4;

private:
    void refreshState();
    void refreshFiles();

    struct Parts;
    std::unique_ptr<Parts> parts;
};

} // namespace tandem
