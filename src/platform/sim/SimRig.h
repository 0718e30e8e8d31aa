#pragma once

#include "base/SimTime.h"
#include "platform/sim/SimAccessibility.h"
#include "platform/sim/SimAudioOutputs.h"
#include "platform/sim/SimAudioTaps.h"
#include "platform/sim/SimCameras.h"
#include "platform/sim/SimFolderWatcher.h"
#include "platform/sim/SimKoala.h"
#include "platform/sim/SimMediaPermissions.h"
#include "platform/sim/SimMicrophones.h"
#include "platform/sim/SimMidiSystem.h"
#include "platform/sim/SimMpcTouch.h"
#include "platform/sim/SimPanels.h"
#include "platform/sim/SimPointer.h"
#include "platform/sim/SimProcesses.h"
#include "platform/sim/SimPush2.h"
#include "platform/sim/SimScreenCapture.h"
#include "platform/sim/SimScreens.h"
#include "platform/sim/SimTouchDriver.h"
#include "platform/sim/SimUsbHost.h"
#include "platform/sim/SimWindowServer.h"
#include "platform/sim/SimWorkspace.h"

#include <filesystem>

namespace tandem {

// The whole simulated Mac in one place, on one virtual timeline: its screens and windows, its
// workspace with Koala installed, Accessibility, the pointer, floating panels, processes with
// launchctl and the touch driver, folder watches, the MIDI world with an MPC Touch and a Push 2, and
// the Push's display on USB. Scenarios and the demo mode run Tandem's real code against it. Files live in the
// home folder ($HOME) and in `scratch`, where the rig keeps Tandem's resources and temporary files.
class SimRig {
public:
    enum class MpcScreen { none, leftOfMain, aboveMain };

    explicit SimRig(const std::filesystem::path& scratch);
    ~SimRig();
    SimRig(const SimRig&) = delete;
    SimRig& operator=(const SimRig&) = delete;

    SimTime time;
    // The main thread's queue, and the queue the simulated peers (Koala, the driver, the workspace)
    // take their time on.
    std::shared_ptr<Queue> main = time.makeQueue("main");
    std::shared_ptr<Queue> system = time.makeQueue("macOS");
    std::shared_ptr<Queue> midiThread = time.makeQueue("CoreMIDI");

    SimMidiSystem midi{midiThread, time};
    SimWorkspace workspace{system};
    SimScreens screens;
    SimWindowServer windows;
    SimAccessibility accessibility;
    SimPointer pointer;
    SimPanels panels{main};
    SimProcesses processes;
    SimFolderWatcher folders;
    SimKoala koala{workspace, windows, accessibility, screens, pointer, midi, time, system};
    SimTouchDriver touchDriver{processes, screens, pointer, system};
    SimMpcTouch mpc{midi, false};
    SimPush2 push{midi, false};
    SimPush2Display pushDisplay;
    SimUsbHost usb{&pushDisplay};

    // Capture: cameras, Koala's window and sound, microphones, sound outputs and their permissions.
    // The camera's frames and the taps' cycles come on queues of their own, as the hardware's would.
    std::shared_ptr<Queue> cameraDevice = time.makeQueue("camera device");
    std::shared_ptr<Queue> audioDevice = time.makeQueue("audio device");
    SimCameras cameras{time, cameraDevice};
    SimScreenCapture screenCapture{time, windows};
    SimAudioTaps audioTaps{time, audioDevice};
    SimMicrophones microphones{time};
    SimAudioOutputs audioOutputs{time, audioDevice};
    SimMediaPermissions mediaPermissions;

    // Tandem's resources: the fonts' folder and its copy of the touch driver with the installer.
    const std::filesystem::path& resources() const { return resourceFolder; }

    // The MPC Touch's screen: plugged in left of or above the main screen, or unplugged.
    void placeMpcScreen(MpcScreen where);
    std::optional<Screen> mpcScreen();
    // The MPC's screen in display coordinates, and a point on it by fractions of its width and height.
    Rect mpcDisplayRect();
    Point mpcPoint(double fx, double fy);

    // A queue of Tandem's own on the rig's timeline.
    std::shared_ptr<Queue> makeQueue(const std::string& label) { return time.makeQueue(label); }

private:
    std::filesystem::path resourceFolder;
};

} // namespace tandem
