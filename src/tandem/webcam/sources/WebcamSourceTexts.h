#pragma once

#include "base/Error.h"

#include <string>

namespace tandem {

// Every text the capture sources show, and the one table that turns the media ports' failures into
// them. Camera and microphone errors are "Tandem.Webcam" code 1; the tap's are "Tandem.AudioTap" code 1.
namespace WebcamSourceTexts {

inline const std::string screenPermission = "Allow Tandem in System Settings › Privacy & Security › Screen & "
                                            "System Audio Recording, then reopen Webcam.";
inline const std::string cameraPermission = "Allow Tandem in System Settings › Privacy & Security › Camera.";
inline const std::string microphonePermission =
    "Allow Tandem in System Settings › Privacy & Security › Microphone.";
inline const std::string openKoalaFirst = "Open Koala first: Webcam captures its sound and screen.";
inline const std::string captureStopped = "Koala's capture stopped: ";
inline const std::string notPlaying = "Koala isn't playing sound yet. Play a pad, then open Webcam again.";
inline const std::string tapFormat = "Can't read Koala's sound format";
inline const std::string listenOutput = "Can't open the sound output for LISTEN";
inline const std::string tapStart = "Can't start Koala's sound capture";

// A camera that did not open, for the device with this name.
Error camera(const Error& failure, const std::string& deviceName);
// A microphone that did not open.
Error microphone(const Error& failure, const std::string& deviceName);
// A tap that did not open.
Error audioTap(const Error& failure);

} // namespace WebcamSourceTexts

} // namespace tandem
