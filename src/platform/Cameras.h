#pragma once

#include "base/Error.h"
#include "platform/VideoFrame.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tandem {

// Why a capture device did not open, as Error codes in the domain "Tandem.Media". The description
// carries the system's own words; the Webcam turns the kind into its texts.
enum class MediaFailure {
    failed = 1,     // anything else: the description says what
    inUse = 2,      // another program holds the device
    unreadable = 3, // it opened but offers nothing Tandem can read
    denied = 4,     // the system refused access
};
inline Error mediaError(MediaFailure failure, std::string description) {
    return {"Tandem.Media", int(failure), std::move(description)};
}
inline MediaFailure mediaFailure(const Error& error) {
    if (error.domain != "Tandem.Media") return MediaFailure::failed;
    switch (error.code) {
    case int(MediaFailure::inUse):
        return MediaFailure::inUse;
    case int(MediaFailure::unreadable):
        return MediaFailure::unreadable;
    case int(MediaFailure::denied):
        return MediaFailure::denied;
    default:
        return MediaFailure::failed;
    }
}

enum class CameraKind { builtInWideAngle, external, continuity };

struct CameraDevice {
    std::string uniqueID;
    std::string name;
    CameraKind kind = CameraKind::external;

    bool operator==(const CameraDevice&) const = default;
};

// One opened camera, delivering 1920 × 1080 when it offers that (else its best size) as BGRA frames
// on a thread of its own. Only the newest frame is kept; late frames are dropped.
class Camera {
public:
    virtual ~Camera() = default;

    virtual void start() = 0;
    // Safe twice; after it returns no frame arrives and the device is free for another open. A stopped
    // camera does not start again.
    virtual void stop() = 0;
    // The newest frame (nothing before the first) and the number received; any thread.
    virtual std::shared_ptr<const VideoFrame> latest() = 0;
    virtual uint64_t count() = 0;
};

class Cameras {
public:
    virtual ~Cameras() = default;

    virtual std::vector<CameraDevice> devices() = 0;
    // A camera ready to start, or why not (MediaFailure codes).
    virtual Result<std::shared_ptr<Camera>> open(const CameraDevice& device) = 0;
};

} // namespace tandem
