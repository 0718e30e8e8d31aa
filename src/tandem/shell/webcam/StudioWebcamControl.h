#pragma once

#include "tandem/shell/webcam/WebcamStudioControl.h"
#include "tandem/webcam/studio/WebcamStudio.h"

#include <memory>

namespace tandem {

// The Webcam window's view of a real studio: the studio's own calls, the devices it ranks and the
// outputs LISTEN can play on.
class StudioWebcamControl final : public WebcamStudioControl {
public:
    StudioWebcamControl(std::shared_ptr<WebcamStudio> studio, Cameras& cameras, Microphones& microphones,
                        AudioOutputs& outputs, KoalaPerformanceFeed& feed);

    void setCallbacks(std::function<void(const QImage&)> onPicture,
                      std::function<void(std::optional<std::string>)> onProblem) override;
    void start() override { studio->start(); }
    void stop() override { studio->stop(); }
    WebcamSettings settings() const override { return studio->settings(); }
    Result<void> update(bool save, const std::function<void(WebcamSettings&)>& change) override {
        return studio->update(save, change);
    }
    Result<std::filesystem::path> startRecording() override { return studio->startRecording(); }
    void stopRecording(std::function<void(std::optional<std::filesystem::path>)> done) override {
        studio->stopRecording(std::move(done));
    }
    bool recording() const override { return studio->recording(); }
    WebcamSoundChain::Meter meter() const override { return studio->meter(); }
    std::shared_ptr<KoalaStutterTouch> stutter() const override { return studio->stutter(); }
    KoalaPerformanceFeed& feed() override { return performance; }
    std::vector<CameraDevice> cameras() override;
    std::vector<AudioInputDevice> microphones() override;
    std::vector<AudioOutputDevice> outputs() override;

    const std::shared_ptr<WebcamStudio>& get() const { return studio; }

private:
    std::shared_ptr<WebcamStudio> studio;
    Cameras& cameraList;
    Microphones& microphoneList;
    AudioOutputs& outputList;
    KoalaPerformanceFeed& performance;
};

} // namespace tandem
