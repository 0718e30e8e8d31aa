#pragma once

#include "base/Error.h"
#include "platform/AudioOutputs.h"
#include "platform/Cameras.h"
#include "platform/Microphones.h"
#include "tandem/audio/KoalaPerformanceFeed.h"
#include "tandem/webcam/KoalaStutterTouch.h"
#include "tandem/webcam/WebcamSettings.h"
#include "tandem/webcam/WebcamSoundChain.h"

#include <QImage>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tandem {

// What the Webcam window drives: the studio's own calls, the devices it offers and the performance
// feed. Everything is called on the main queue, and the callbacks arrive there.
class WebcamStudioControl {
public:
    virtual ~WebcamStudioControl() = default;

    // The newest composed frame, and the message to show (nothing clears it).
    virtual void setCallbacks(std::function<void(const QImage&)> onPicture,
                              std::function<void(std::optional<std::string>)> onProblem) = 0;

    virtual void start() = 0;
    virtual void stop() = 0;

    // A copy taken under the studio's settings lock.
    virtual WebcamSettings settings() const = 0;
    virtual Result<void> update(bool save, const std::function<void(WebcamSettings&)>& change) = 0;

    virtual Result<std::filesystem::path> startRecording() = 0;
    // `done` runs on the main queue with the file, or nothing when none was saved.
    virtual void stopRecording(std::function<void(std::optional<std::filesystem::path>)> done) = 0;
    // Whether a writer exists (under the writer lock).
    virtual bool recording() const = 0;

    virtual WebcamSoundChain::Meter meter() const = 0;
    // The studio's STUTTER learner; may be null while nothing can watch the pointer.
    virtual std::shared_ptr<KoalaStutterTouch> stutter() const = 0;
    virtual KoalaPerformanceFeed& feed() = 0;

    // In the order the menus list them.
    virtual std::vector<CameraDevice> cameras() = 0;
    virtual std::vector<AudioInputDevice> microphones() = 0;
    virtual std::vector<AudioOutputDevice> outputs() = 0;
};

} // namespace tandem
