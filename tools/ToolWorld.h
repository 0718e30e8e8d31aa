#pragma once

#include "base/Clock.h"
#include "base/Queue.h"
#include "platform/AudioDevices.h"
#include "platform/Displays.h"
#include "platform/Hid.h"
#include "platform/Midi.h"
#include "platform/Power.h"
#include "platform/Processes.h"
#include "platform/SystemLog.h"
#include "platform/Usb.h"

#include <filesystem>
#include <functional>
#include <memory>

namespace tandem {

// Everything the three diagnostic tools see of the machine. `main` of each tool builds it from this
// machine's services; tests build it from the simulated Mac, on one virtual timeline.
struct ToolWorld {
    Clock& clock;
    std::shared_ptr<Queue> main;      // the main run loop: timers, notices, the signal source
    std::shared_ptr<Queue> logReader; // the system-log reader's own thread
    MidiSystem& midi;
    UsbHost& usb;
    Hid& hid;
    Displays& displays;
    AudioDevices& audio;
    SystemLog& systemLog;
    Power& power;
    Processes& processes;
    std::filesystem::path home;
    // Runs the main run loop until the program is to end (on this machine: SIGTERM or SIGINT).
    std::function<void()> runLoop;
    // Lets the run loop run for a while, so that notices (MIDI set-up changes) are taken in.
    std::function<void(double seconds)> runFor;
};

} // namespace tandem
