#pragma once

#include "platform/Cameras.h"
#include "platform/MediaPermissions.h"
#include "platform/Microphones.h"
#include "platform/ScreenCapture.h"

namespace tandem {

// Cameras through libavdevice's video4linux2 input: 1920 × 1080 when the camera offers it (MJPEG
// preferred, decoded), else its own size; BGRA through libswscale; stamps from the kernel's monotonic
// clock. A busy device is "in use", a refused one "denied".
class FfmpegCameras final : public Cameras {
public:
    std::vector<CameraDevice> devices() override;
    Result<std::shared_ptr<Camera>> open(const CameraDevice& device) override;
};

// Koala's window through libavdevice's x11grab input on $DISPLAY, aimed at the window (window_id)
// with the region as offsets inside it, 30 frames a second with the pointer drawn, scaled by
// libswscale to the configured size. A new region or window reopens the grab. It grabs no sound: a
// stream asked for sound fails to start.
class X11GrabCapture final : public ScreenCapture {
public:
    bool contentAvailable() override;
    std::shared_ptr<ScreenStream> makeStream(const ScreenCaptureTarget& target,
                                             const ScreenStreamConfiguration& configuration,
                                             std::shared_ptr<Queue> queue,
                                             ScreenStreamHandlers handlers) override;
};

// PulseAudio's sources (not sinks' monitors) as microphones, read through libavdevice's pulse input
// and converted by libswresample to float, interleaved, 48 kHz stereo on the host clock.
class PulseMicrophones final : public Microphones {
public:
    std::vector<AudioInputDevice> devices() override;
    Result<std::shared_ptr<Microphone>> open(const AudioInputDevice& device, std::shared_ptr<Queue> queue,
                                             std::function<void(const SampleBuffer&)> onAudio) override;
};

// Linux asks no one before a device is used: access is what the device files allow, found out on
// opening.
class LinuxMediaPermissions final : public MediaPermissions {
public:
    MediaAuthorization status(MediaKind) override { return MediaAuthorization::authorized; }
    bool request(MediaKind) override { return true; }
};

} // namespace tandem
