// The Webcam window on a real studio over the simulated Mac, in virtual time: the settings reach the
// defaults, composed pictures reach the preview, and a recording is started and saved by the buttons.
#include "tandem/shell/webcam/QtWebcamWindow.h"
#include "tandem/shell/webcam/StudioWebcamControl.h"
#include "tandem/webcam/studio/SimulatedStudioWorld.h"

#include "platform/sim/SimDefaults.h"
#include "platform/sim/SimMovieFile.h"
#include "platform/sim/SimRig.h"
#include "support/ScratchHome.h"

#include <QApplication>

#include <gtest/gtest.h>

namespace tandem {
namespace {

struct StudioRig {
    ::tandem::testing::ScratchHome home;
    SimRig rig{home.path() / "rig"};
    SimDefaults defaults;
    SimMovieFiles movies;
    KoalaPerformanceFeed feed{rig.time};
    std::shared_ptr<WebcamStudio> studio;
    std::shared_ptr<StudioWebcamControl> control;
    std::vector<std::filesystem::path> revealed;
    std::unique_ptr<QtWebcamWindow> window;

    StudioRig() {
        studio = WebcamStudio::make(simulatedStudioWorld(rig, defaults, movies, feed));
        control = std::make_shared<StudioWebcamControl>(studio, rig.cameras, rig.microphones,
                                                        rig.audioOutputs, feed);
        window = std::make_unique<QtWebcamWindow>(
            QtWebcamWindow::Services{control, rig.main, rig.time, [this](const std::filesystem::path& file) {
                                         revealed.push_back(file);
                                     }});
    }
    ~StudioRig() {
        window.reset();
        studio->stop();
        rig.time.advance(1);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    void advance(double seconds) {
        rig.time.advance(seconds);
        QApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

TEST(WebcamWindowOnStudio, ControlsReachTheDefaultsAndPicturesReachThePreview) {
    StudioRig s;
    s.window->open();
    s.advance(0.5);
    // The rig's built-in camera, carrying its id.
    ASSERT_EQ(s.window->cameraPopup()->count(), 1);
    EXPECT_EQ(s.window->cameraPopup()->itemText(0).toStdString(), "FaceTime HD Camera");
    EXPECT_TRUE(s.window->cameraPopup()->currentData().isValid());
    EXPECT_TRUE(s.studio->running());
    EXPECT_FALSE(s.window->preview()->frame().isNull());

    s.window->checks()[3]->click(); // mirror off
    EXPECT_FALSE(WebcamSettings::load(s.defaults).mirror);

    s.window->window()->close();
    s.advance(0.5);
    EXPECT_FALSE(s.studio->running());
}

TEST(WebcamWindowOnStudio, RecordingIsSavedAndNamedInTheNote) {
    StudioRig s;
    s.window->open();
    s.advance(0.5);
    s.window->toggleRecording();
    ASSERT_TRUE(s.studio->recording()) << s.window->note()->text().toStdString();
    s.advance(2);
    EXPECT_EQ(s.window->record()->text().toStdString(), "■ STOP  0:02");
    s.window->toggleRecording();
    s.advance(1);
    const std::string first = s.window->note()->text().split("\n\n").front().toStdString();
    EXPECT_EQ(first.rfind("Saved Koala_Performance ", 0), 0u) << first;
    EXPECT_NE(first.find(" 16x9.mp4 in ~/Movies/Tandem."), std::string::npos) << first;
    EXPECT_EQ(s.revealed.size(), 1u);
}

} // namespace
} // namespace tandem
