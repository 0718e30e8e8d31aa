#pragma once

#include "base/SimTime.h"
#include "platform/sim/SimPointer.h"
#include "platform/sim/SimWindowServer.h"
#include "platform/sim/SimWorkspace.h"
#include "tandem/shell/webcam/WebcamStudioControl.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tandem::testing {

// The studio as the window sees it, in virtual time: settings kept in memory with every saved state
// recorded, a recording flag, and completions delivered on the main queue. The STUTTER learner is the
// real one, on simulated pointer, windows and workspace.
class FakeStudio final : public WebcamStudioControl {
public:
    explicit FakeStudio(SimTime& time)
        : time(time)
        , main(time.makeQueue("main"))
        , workspace(main)
        , performance(time)
        , touch(std::make_shared<KoalaStutterTouch>(
              KoalaStutterTouch::Services{workspace, windows, pointer, performance, main})) {}

    SimTime& time;
    std::shared_ptr<Queue> main;
    SimWorkspace workspace;
    SimWindowServer windows;
    SimPointer pointer;
    KoalaPerformanceFeed performance;
    std::shared_ptr<KoalaStutterTouch> touch;

    WebcamSettings current;
    std::vector<WebcamSettings> saved; // the record as each saving update left it
    int updates = 0;
    bool running = false;
    bool isRecording = false;
    std::optional<Error> startFailure;
    bool saveFails = false; // stopRecording completes without a file
    std::optional<std::filesystem::path> file;
    WebcamSoundChain::Meter reading;
    std::vector<CameraDevice> cameraList;
    std::vector<AudioInputDevice> microphoneList;
    std::vector<AudioOutputDevice> outputList;
    std::function<void(const QImage&)> picture;
    std::function<void(std::optional<std::string>)> problem;

    void setCallbacks(std::function<void(const QImage&)> onPicture,
                      std::function<void(std::optional<std::string>)> onProblem) override {
        picture = std::move(onPicture);
        problem = std::move(onProblem);
    }
    void start() override { running = true; }
    void stop() override {
        running = false;
        isRecording = false;
    }
    WebcamSettings settings() const override { return current; }
    Result<void> update(bool save, const std::function<void(WebcamSettings&)>& change) override {
        ++updates;
        change(current);
        if (save) saved.push_back(current);
        return {};
    }
    Result<std::filesystem::path> startRecording() override {
        if (startFailure) return *startFailure;
        isRecording = true;
        file = current.folderPath() /
               (current.vertical ? "Koala_Performance 9x16.mp4" : "Koala_Performance 16x9.mp4");
        return *file;
    }
    void stopRecording(std::function<void(std::optional<std::filesystem::path>)> done) override {
        const bool had = isRecording;
        isRecording = false;
        auto result = had && !saveFails ? file : std::nullopt;
        main->async([done = std::move(done), result] { done(result); });
    }
    bool recording() const override { return isRecording; }
    WebcamSoundChain::Meter meter() const override { return reading; }
    std::shared_ptr<KoalaStutterTouch> stutter() const override { return touch; }
    KoalaPerformanceFeed& feed() override { return performance; }
    std::vector<CameraDevice> cameras() override { return cameraList; }
    std::vector<AudioInputDevice> microphones() override { return microphoneList; }
    std::vector<AudioOutputDevice> outputs() override { return outputList; }
};

} // namespace tandem::testing
