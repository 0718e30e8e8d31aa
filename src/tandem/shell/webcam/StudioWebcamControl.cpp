#include "tandem/shell/webcam/StudioWebcamControl.h"

#include "tandem/webcam/sources/WebcamAudioOutputs.h"
#include "tandem/webcam/studio/WebcamDevices.h"

namespace tandem {

StudioWebcamControl::StudioWebcamControl(std::shared_ptr<WebcamStudio> studio, Cameras& cameras,
                                         Microphones& microphones, AudioOutputs& outputs,
                                         KoalaPerformanceFeed& feed)
    : studio(std::move(studio))
    , cameraList(cameras)
    , microphoneList(microphones)
    , outputList(outputs)
    , performance(feed) {}

void StudioWebcamControl::setCallbacks(std::function<void(const QImage&)> onPicture,
                                       std::function<void(std::optional<std::string>)> onProblem) {
    if (onPicture)
        studio->onPicture = [show = std::move(onPicture)](const WebcamStudio::Picture& picture) {
            show(picture.frame);
        };
    else
        studio->onPicture = nullptr;
    studio->onProblem = std::move(onProblem);
}

std::vector<CameraDevice> StudioWebcamControl::cameras() {
    return WebcamDevices::cameras(cameraList);
}

std::vector<AudioInputDevice> StudioWebcamControl::microphones() {
    return WebcamDevices::microphones(microphoneList);
}

std::vector<AudioOutputDevice> StudioWebcamControl::outputs() {
    std::vector<AudioOutputDevice> devices;
    for (const auto& [uid, name] : WebcamAudioOutputs::all(outputList))
        devices.push_back({0, uid, name});
    return devices;
}

} // namespace tandem
