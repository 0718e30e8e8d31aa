#include "tandem/webcam/sources/WebcamSourceTexts.h"

#include "platform/AudioTap.h"
#include "platform/Cameras.h"

namespace tandem::WebcamSourceTexts {

namespace {

Error webcam(std::string description) {
    return {"Tandem.Webcam", 1, std::move(description)};
}

} // namespace

Error camera(const Error& failure, const std::string& deviceName) {
    switch (mediaFailure(failure)) {
    case MediaFailure::inUse:
        return webcam(deviceName + " is in use by another app");
    case MediaFailure::unreadable:
        return webcam("Can't read " + deviceName);
    case MediaFailure::denied:
        return webcam(cameraPermission);
    case MediaFailure::failed:
        break;
    }
    return webcam(failure.description);
}

Error microphone(const Error& failure, const std::string& deviceName) {
    switch (mediaFailure(failure)) {
    case MediaFailure::inUse:
        return webcam(deviceName + " is in use");
    case MediaFailure::unreadable:
        return webcam("Can't read " + deviceName);
    case MediaFailure::denied:
        return webcam(microphonePermission);
    case MediaFailure::failed:
        break;
    }
    return webcam(failure.description);
}

Error audioTap(const Error& failure) {
    std::string text = tapStart;
    if (failure.domain == "Tandem.Media.Tap") {
        switch (AudioTapFailure(failure.code)) {
        case AudioTapFailure::notPlaying:
            text = notPlaying;
            break;
        case AudioTapFailure::denied:
            text = screenPermission;
            break;
        case AudioTapFailure::format:
            text = tapFormat;
            break;
        case AudioTapFailure::output:
            text = listenOutput;
            break;
        case AudioTapFailure::start:
            text = tapStart;
            break;
        }
    }
    return {"Tandem.AudioTap", 1, text};
}

} // namespace tandem::WebcamSourceTexts
