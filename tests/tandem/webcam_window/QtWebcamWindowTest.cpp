// The Webcam window on Qt's offscreen platform, in virtual time, against a studio that keeps its
// settings in memory: controls, recording, the layout editor, the sound strips and the lifecycle.
#include "tandem/shell/webcam/QtWebcamWindow.h"

#include "FakeStudio.h"
#include "support/ScratchHome.h"

#include <QApplication>
#include <QFileDialog>
#include <QMouseEvent>
#include <QStringList>
#include <QTest>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>

namespace tandem {
namespace {

using testing::FakeStudio;

struct WindowRig {
    ::tandem::testing::ScratchHome home;
    SimTime time;
    std::shared_ptr<FakeStudio> studio = std::make_shared<FakeStudio>(time);
    std::vector<std::filesystem::path> revealed;
    std::unique_ptr<QtWebcamWindow> window;

    explicit WindowRig(std::function<void(FakeStudio&)> setUp = nullptr) {
        if (setUp) setUp(*studio);
        window = std::make_unique<QtWebcamWindow>(
            QtWebcamWindow::Services{studio, studio->main, time, [this](const std::filesystem::path& file) {
                                         revealed.push_back(file);
                                     }});
    }
    ~WindowRig() {
        window.reset();
        QApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void advance(double seconds) {
        time.advance(seconds);
        QApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    void hit() {
        const std::array<uint8_t, 3> noteOn{0x9F, 36, 100};
        studio->performance.observe(noteOn);
    }
    std::string note() const { return window->note()->text().toStdString(); }
    QStringList paragraphs() const { return window->note()->text().split("\n\n"); }
};

void send(QWidget* widget, QEvent::Type type, QPointF at, Qt::MouseButtons buttons) {
    QMouseEvent event(type, at, widget->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

// Presses at `from`, moves through `to` and lets go there.
void dragOn(QWidget* widget, QPointF from, QPointF to) {
    send(widget, QEvent::MouseButtonPress, from, Qt::LeftButton);
    send(widget, QEvent::MouseMove, to, Qt::LeftButton);
    send(widget, QEvent::MouseButtonRelease, to, Qt::NoButton);
}

QStringList items(QComboBox* menu) {
    QStringList titles;
    for (int i = 0; i < menu->count(); ++i)
        titles << menu->itemText(i);
    return titles;
}

TEST(WebcamWindowControls, NoCameraShowsOneItemAndAChangeKeepsTheStoredCamera) {
    WindowRig rig([](FakeStudio& studio) { studio.current.camera = "usb-cam-1"; });
    rig.window->open();
    EXPECT_EQ(items(rig.window->cameraPopup()), QStringList{"No camera found"});
    rig.window->checks()[3]->click(); // mirror off
    ASSERT_FALSE(rig.studio->saved.empty());
    EXPECT_EQ(rig.studio->saved.back().camera, std::optional<std::string>("usb-cam-1"));
    EXPECT_FALSE(rig.studio->saved.back().mirror);
}

TEST(WebcamWindowControls, MenusListDevicesSelectTheStoredOnesAndWriteIdsBack) {
    WindowRig rig([](FakeStudio& studio) {
        studio.cameraList = {{"cam-a", "Desk Camera", CameraKind::external},
                             {"cam-b", "Overhead", CameraKind::external}};
        studio.microphoneList = {{"mic-1", "Studio Mic"}};
        studio.outputList = {{3, "out-1", "Headphones"}};
        studio.current.camera = "cam-b";
        studio.current.audio = "mic-1";
    });
    rig.window->open();
    EXPECT_EQ(items(rig.window->cameraPopup()), (QStringList{"Desk Camera", "Overhead"}));
    EXPECT_EQ(rig.window->cameraPopup()->currentIndex(), 1);
    EXPECT_EQ(items(rig.window->soundPopup()), (QStringList{"Koala's own sound", "Studio Mic"}));
    EXPECT_EQ(rig.window->soundPopup()->currentIndex(), 1);

    rig.window->cameraPopup()->setCurrentIndex(0);
    rig.window->soundPopup()->setCurrentIndex(0);
    rig.window->changed();
    EXPECT_EQ(rig.studio->current.camera, std::optional<std::string>("cam-a"));
    EXPECT_EQ(rig.studio->current.audio, "koala");
    rig.window->listenPopup()->setCurrentIndex(1);
    rig.window->listenDeviceChanged();
    EXPECT_EQ(rig.studio->saved.back().listenDevice, std::optional<std::string>("out-1"));
}

TEST(WebcamWindowRecording, ShapeChangeIsRefusedWhileRecording) {
    WindowRig rig;
    rig.window->open();
    rig.window->toggleRecording();
    ASSERT_TRUE(rig.studio->isRecording);
    rig.window->shape()->button(1)->click();
    EXPECT_FALSE(rig.studio->current.vertical);
    EXPECT_EQ(rig.window->shape()->checkedId(), 0);
    EXPECT_EQ(rig.paragraphs().front(), "Stop recording before changing the shape.");

    rig.window->toggleRecording();
    rig.advance(0);
    rig.window->shape()->button(1)->click();
    EXPECT_TRUE(rig.studio->current.vertical);
}

TEST(WebcamWindowRecording, ArmIgnoresAnOlderHitStartsOnTheNextAndStopsARecording) {
    WindowRig rig;
    rig.window->openFloating();
    ASSERT_NE(rig.window->arm(), nullptr);
    rig.advance(1);
    rig.hit(); // a note struck before arming, still the feed's last hit
    rig.advance(1);
    QTest::mouseClick(rig.window->arm(), Qt::LeftButton);
    EXPECT_EQ(rig.window->arm()->text().toStdString(), "ARMED · PLAY A PAD");
    rig.advance(1);
    EXPECT_FALSE(rig.studio->isRecording);

    rig.hit();
    rig.advance(0.05);
    EXPECT_TRUE(rig.studio->isRecording);
    EXPECT_FALSE(rig.window->armed());
    rig.advance(75);
    EXPECT_EQ(rig.window->arm()->text().toStdString(), "■ STOP  1:15");

    QTest::mouseClick(rig.window->arm(), Qt::LeftButton);
    rig.advance(0);
    EXPECT_FALSE(rig.studio->isRecording);
    EXPECT_EQ(rig.window->arm()->text().toStdString(), "● ARM");
}

TEST(WebcamWindowRecording, FailuresToStartOrSaveAreSaid) {
    WindowRig rig;
    rig.window->open();
    rig.studio->saveFails = true;
    rig.window->toggleRecording();
    rig.window->toggleRecording();
    rig.advance(0);
    EXPECT_EQ(rig.paragraphs().front(), "The recording couldn't be saved.");
    EXPECT_TRUE(rig.revealed.empty());

    rig.studio->startFailure = Error{"test", 1, "The camera is busy."};
    rig.window->toggleRecording();
    EXPECT_FALSE(rig.studio->isRecording);
    EXPECT_EQ(rig.paragraphs().front(), "Recording didn't start: The camera is busy.");
}

TEST(WebcamWindowLifecycle, ClosingTheMainWindowWithTheFloatingPreviewOpenKeepsRecording) {
    WindowRig rig;
    rig.window->open();
    rig.window->toggleFloating();
    rig.window->toggleRecording();
    rig.window->window()->close();
    rig.advance(0);
    EXPECT_TRUE(rig.studio->running);
    EXPECT_TRUE(rig.studio->isRecording);

    rig.window->floating()->close();
    rig.advance(0);
    EXPECT_EQ(rig.window->floating(), nullptr);
    EXPECT_FALSE(rig.studio->running);
}

TEST(WebcamWindowLifecycle, HoldStuttersUntilReleasedOrTheMainWindowAloneCloses) {
    WindowRig rig;
    rig.window->open();
    send(rig.window->hold(), QEvent::MouseButtonPress, {5, 5}, Qt::LeftButton);
    EXPECT_TRUE(rig.studio->performance.snapshot().manualStutter);
    // Released far outside the button: still the end of the hold.
    send(rig.window->hold(), QEvent::MouseButtonRelease, {500, 500}, Qt::NoButton);
    EXPECT_FALSE(rig.studio->performance.snapshot().manualStutter);

    rig.window->toggleArm(); // armed without a floating preview
    send(rig.window->hold(), QEvent::MouseButtonPress, {5, 5}, Qt::LeftButton);
    rig.window->window()->close();
    EXPECT_FALSE(rig.studio->running);
    EXPECT_FALSE(rig.window->armed());
    EXPECT_FALSE(rig.studio->performance.snapshot().manualStutter);
}

TEST(WebcamWindowLifecycle, PicturesAndMetersReachTheOpenViews) {
    WindowRig rig;
    rig.window->open();
    rig.window->toggleOutput();
    rig.window->toggleFloating();
    QImage frame(64, 36, QImage::Format_RGB32);
    frame.fill(QColor(10, 200, 30));
    rig.studio->picture(frame);
    EXPECT_EQ(rig.window->outputPicture()->frame(), frame);
    EXPECT_EQ(rig.window->floatingPicture()->frame(), frame);
    rig.studio->reading.rms = {-6, -9};
    rig.advance(0.04);
    EXPECT_EQ(rig.window->strip()->meter->meter.reading, rig.studio->reading);
}

TEST(WebcamWindowSound, SlidersSnapToHalfADecibelAndADragSavesOnlyAtItsEnd) {
    WindowRig rig;
    rig.window->open();
    WebcamSoundStrip* strip = rig.window->strip();
    strip->threshold->setValue(-774);
    EXPECT_EQ(strip->threshold->value(), -750);
    EXPECT_EQ(strip->thresholdValue->text().toStdString(), "-7.5 dB");
    EXPECT_EQ(rig.studio->saved.back().threshold, std::optional<double>(-7.5));

    const size_t before = rig.studio->saved.size();
    strip->drive->setSliderDown(true);
    strip->drive->setValue(400);
    strip->drive->setValue(612);
    EXPECT_EQ(rig.studio->current.drive, std::optional<double>(6));
    EXPECT_EQ(rig.studio->saved.size(), before);
    strip->drive->setSliderDown(false);
    ASSERT_EQ(rig.studio->saved.size(), before + 1);
    EXPECT_EQ(rig.studio->saved.back().drive, std::optional<double>(6));
}

// The canvas covers 800 × 710; a 16:9 picture in it is 800 × 450 from y = 130.
TEST(WebcamWindowLayout, DraggingTheCardMovesItAndClampsItToThePicture) {
    WindowRig rig;
    rig.window->open();
    rig.window->editLayout()->click();
    WebcamLayoutCanvas* canvas = rig.window->canvas();
    const QPointF card = canvas->rectOf(WebcamLayoutCanvas::Part::card).center();
    const size_t before = rig.studio->saved.size();

    // 80 points right and 45 up: a tenth of the picture each way; saved only when let go.
    send(canvas, QEvent::MouseButtonPress, card, Qt::LeftButton);
    send(canvas, QEvent::MouseMove, card + QPointF(80, -45), Qt::LeftButton);
    EXPECT_NEAR(rig.studio->current.layouts->at("wide").card.x, 0.125, 1e-9);
    EXPECT_EQ(rig.studio->saved.size(), before);
    // Far past the right and bottom edges.
    send(canvas, QEvent::MouseMove, card + QPointF(5000, 5000), Qt::LeftButton);
    send(canvas, QEvent::MouseButtonRelease, card + QPointF(5000, 5000), Qt::NoButton);
    ASSERT_EQ(rig.studio->saved.size(), before + 1);
    const Point placed = rig.studio->saved.back().layouts->at("wide").card;
    EXPECT_NEAR(placed.x, 1 - 680.0 / 1920, 1e-9);
    EXPECT_EQ(placed.y, 0);

    dragOn(canvas, {790, 140}, {700, 300}); // away from the card and Koala's screen: nothing
    EXPECT_EQ(rig.studio->saved.size(), before + 1);
    rig.window->resetLayout();
    EXPECT_EQ(rig.studio->saved.back().layouts->count("wide"), 0u);
}

TEST(WebcamWindowLayout, DraggingKoalasCornerUpMakesItTallerWithinLimits) {
    WindowRig rig([](FakeStudio& studio) {
        studio.current.tutorial = true;
        WebcamLayout layout = WebcamLayout::standard(false, true);
        layout.koala = {0.1, 0.1, 0.5, 0.5};
        studio.current.layouts = std::map<std::string, WebcamLayout>{{"wide tutorial", layout}};
    });
    rig.window->open();
    rig.window->editLayout()->click();
    WebcamLayoutCanvas* canvas = rig.window->canvas();
    auto koala = [&] { return rig.studio->saved.back().layouts->at("wide tutorial").koala; };
    EXPECT_EQ(canvas->rectOf(WebcamLayoutCanvas::Part::koala), QRectF(80, 310, 400, 225));

    dragOn(canvas, {478, 312}, {478 + 40, 312 - 45});
    EXPECT_NEAR(koala().height, 0.6, 1e-9);
    dragOn(canvas, {400, 300}, {400 - 8000, 300}); // the inside moves it, no further than the left edge
    EXPECT_EQ(koala().x, 0);
    // Never past the top or right edge.
    const QPointF corner = canvas->rectOf(WebcamLayoutCanvas::Part::koala).topRight();
    dragOn(canvas, corner, corner + QPointF(3000, -3000));
    EXPECT_NEAR(koala().width, 1.0, 1e-9);
    EXPECT_NEAR(koala().height, 0.9, 1e-9);

    // Where the card lies over Koala's screen, a press takes the card.
    const Rect sized = koala();
    dragOn(canvas, {100, 520}, {140, 520});
    EXPECT_EQ(koala(), sized);
    EXPECT_NEAR(rig.studio->saved.back().layouts->at("wide tutorial").card.x, 0.075, 1e-9);
}

TEST(WebcamWindowTexts, TheNoteSaysWhatIsSetUp) {
    WindowRig rig;
    rig.window->open();
    EXPECT_EQ(
        rig.paragraphs(),
        (QStringList{"Your camera fills the picture.",
                     "Touching STUTTER on Koala's screen: press LEARN KOALA'S STUTTER, then touch STUTTER on "
                     "Koala's Perform page once. The video then stutters with it, at Koala's own timing.",
                     "LISTEN swaps Koala's own sound for the one with DRIVE, MPC3000 OUT and the limiter, on "
                     "the LISTEN THROUGH output.",
                     "Recordings go to ~/Movies/Tandem."}));

    rig.window->checks()[0]->click(); // tutorial
    rig.studio->problem("Koala isn't playing sound yet. Play a pad, then open Webcam again.");
    EXPECT_EQ(rig.paragraphs()[0], "Koala isn't playing sound yet. Play a pad, then open Webcam again.");
    EXPECT_EQ(rig.paragraphs()[1], "Koala's window fills the picture with you in the corner.");
    rig.studio->problem(std::nullopt);
    EXPECT_EQ(rig.paragraphs()[0], "Koala's window fills the picture with you in the corner.");
}

TEST(WebcamWindowTexts, LearningKoalasStutter) {
    WindowRig rig;
    rig.window->open();
    EXPECT_EQ(rig.window->learnStutter()->text().toStdString(), "LEARN KOALA'S STUTTER");
    rig.window->learnStutter()->click();
    EXPECT_TRUE(rig.studio->touch->learning);
    EXPECT_EQ(rig.window->learnStutter()->text().toStdString(), "NOW TOUCH STUTTER ON KOALA…");
    rig.window->learnStutter()->click();
    EXPECT_FALSE(rig.studio->touch->learning);
}

TEST(WebcamWindowTexts, FolderIsShownShortAndAChosenOneIsStored) {
    WindowRig rig;
    rig.window->open();
    EXPECT_EQ(rig.window->folderLabel()->text().toStdString(), "~/Movies/Tandem");
    // A folder whose name merely begins like the home folder's is not under it.
    EXPECT_EQ(QtWebcamWindow::abbreviated(rig.home.path().string() + "x/films"),
              rig.home.path().string() + "x/films");

    const auto chosen = rig.home.path() / "Performances";
    std::filesystem::create_directories(chosen);
    rig.window->chooseFolder();
    auto* panel = rig.window->window()->findChild<QFileDialog*>();
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->windowTitle(), "Choose where Webcam recordings are saved");
    emit panel->fileSelected(QString::fromStdString(chosen.string()));
    panel->close();
    EXPECT_EQ(rig.studio->saved.back().folder, std::optional<std::string>(chosen.string()));
    EXPECT_EQ(rig.paragraphs().back(), "Recordings go to ~/Performances.");
}

} // namespace
} // namespace tandem
