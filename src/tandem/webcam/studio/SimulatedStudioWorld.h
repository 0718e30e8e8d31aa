#pragma once

#include "platform/sim/SimRig.h"
#include "tandem/webcam/studio/WebcamStudio.h"

namespace tandem {

// The studio's world on the simulated Mac: the rig's devices, windows and pointer, and queues of the
// rig's virtual timeline named as the studio names them.
inline WebcamStudio::World simulatedStudioWorld(SimRig& rig, Defaults& defaults, MovieFiles& movies,
                                                KoalaPerformanceFeed& feed) {
    return WebcamStudio::World{rig.time,
                               defaults,
                               rig.workspace,
                               rig.windows,
                               rig.screens,
                               rig.pointer,
                               rig.cameras,
                               rig.screenCapture,
                               rig.audioTaps,
                               rig.microphones,
                               rig.audioOutputs,
                               rig.mediaPermissions,
                               movies,
                               feed,
                               rig.main,
                               rig.makeQueue("Tandem webcam"),
                               rig.makeQueue("Tandem webcam setup"),
                               rig.makeQueue("Tandem camera"),
                               rig.makeQueue("Tandem screen capture"),
                               rig.makeQueue("Tandem audio input"),
                               rig.makeQueue("Tandem webcam pads")};
}

} // namespace tandem
