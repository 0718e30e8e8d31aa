#pragma once

#include "platform/Cameras.h"
#include "platform/Microphones.h"

#include <vector>

namespace tandem {

// The devices the Webcam window offers and the studio opens.
namespace WebcamDevices {

// Ordinary external and continuity cameras first (0), then the built-in camera (2), then anything
// whose name says it is a virtual camera (3): a virtual one is rarely what the musician points at
// themselves. Equal ranks keep the system's order.
int rank(const CameraDevice& device);
std::vector<CameraDevice> cameras(Cameras& cameras);
// Every sound input, in the system's order.
std::vector<AudioInputDevice> microphones(Microphones& microphones);

} // namespace WebcamDevices

} // namespace tandem
