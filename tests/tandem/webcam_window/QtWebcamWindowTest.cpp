// The Webcam window on Qt's offscreen platform, in virtual time, against a studio that keeps its
// settings in memory: the controls become settings changes, recording by hand and armed, the layout
// editor, the sound strips, the windows' lifecycle and every text the musician reads.
#include "tandem/shell/webcam/QtWebcamWindow.h"

#include "FakeStudio.h"
#include "support/ScratchHome.h"
#include "tandem/looks/KoalaLook.h"

#include <QApplication>
#include <QFileDialog>
#include <QMouseEvent>
#include <QStringList>
#include <QTest>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>

#ifndef TANDEM_WEBCAM_WINDOW_OUTPUT_DIR
#define TANDEM_WEBCAM_WINDOW_OUTPUT_DIR "."
#endif

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
    EXPECT_EQ(rig.window->rotatePopup()->currentIndex(), 1); // no stored rotation: Turn right

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
        studio.current.rotate = 2;
    });
    rig.window->open();
    EXPECT_EQ(items(rig.window->cameraPopup()), (QStringList{"Desk Camera", "Overhead"}));
    EXPECT_EQ(rig.window->cameraPopup()->currentIndex(), 1);
    EXPECT_EQ(items(rig.window->soundPopup()), (QStringList{"Koala's own sound", "Studio Mic"}));
    EXPECT_EQ(rig.window->soundPopup()->currentIndex(), 1);
    EXPECT_EQ(items(rig.window->listenPopup()), (QStringList{"Mac's default output", "Headphones"}));
    EXPECT_EQ(rig.window->listenPopup()->currentIndex(), 0);
    EXPECT_EQ(items(rig.window->rotatePopup()),
              (QStringList{"Upright (no turn)", "Turn right", "Turn left"}));
    EXPECT_EQ(rig.window->rotatePopup()->currentIndex(), 2);

    rig.window->cameraPopup()->setCurrentIndex(0);
    rig.window->soundPopup()->setCurrentIndex(0);
    rig.window->changed();
    EXPECT_EQ(rig.studio->current.camera, std::optional<std::string>("cam-a"));
    EXPECT_EQ(rig.studio->current.audio, "koala");
    EXPECT_EQ(rig.studio->current.rotate, std::optional<long long>(2));

    rig.window->listenPopup()->setCurrentIndex(1);
    rig.window->listenDeviceChanged();
    EXPECT_EQ(rig.studio->saved.back().listenDevice, std::optional<std::string>("out-1"));
    rig.window->listenPopup()->setCurrentIndex(0);
    rig.window->listenDeviceChanged();
    EXPECT_EQ(rig.studio->saved.back().listenDevice, std::nullopt);
}

TEST(WebcamWindowRecording, ShapeChangeIsRefusedWhileRecording) {
    WindowRig rig;
    rig.window->open();
    rig.window->toggleRecording();
    ASSERT_TRUE(rig.studio->isRecording);
    const size_t savedBefore = rig.studio->saved.size();

    rig.window->shape()->button(1)->click();
    EXPECT_FALSE(rig.studio->current.vertical);
    EXPECT_EQ(rig.studio->saved.size(), savedBefore);
    EXPECT_EQ(rig.window->shape()->checkedId(), 0);
    EXPECT_EQ(rig.paragraphs().front(), "Stop recording before changing the shape.");

    // Other changes still go through, and after stopping the shape can change.
    rig.window->checks()[1]->click();
    EXPECT_FALSE(rig.studio->current.overlay);
    rig.window->toggleRecording();
    rig.advance(0);
    rig.window->shape()->button(1)->click();
    EXPECT_TRUE(rig.studio->current.vertical);
}

TEST(WebcamWindowRecording, ArmIgnoresAnOlderHitStartsOnTheNextAndStopsARecording) {
    WindowRig rig;
    rig.window->openFloating();
    ASSERT_NE(rig.window->arm(), nullptr);
    EXPECT_EQ(rig.window->arm()->text().toStdString(), "● ARM");

    rig.advance(1);
    rig.hit(); // a note struck before arming, still the feed's last hit
    rig.advance(1);
    QTest::mouseClick(rig.window->arm(), Qt::LeftButton);
    EXPECT_TRUE(rig.window->armed());
    EXPECT_EQ(rig.window->arm()->text().toStdString(), "ARMED · PLAY A PAD");
    EXPECT_EQ(rig.window->arm()->tint(), std::optional<QColor>(KoalaLook::pink));
    rig.advance(1);
    EXPECT_FALSE(rig.studio->isRecording);

    rig.hit();
    rig.advance(0.05);
    EXPECT_TRUE(rig.studio->isRecording);
    EXPECT_FALSE(rig.window->armed());
    EXPECT_EQ(rig.window->arm()->text().toStdString(), "■ STOP  0:00");

    QTest::mouseClick(rig.window->arm(), Qt::LeftButton);
    rig.advance(0);
    EXPECT_FALSE(rig.studio->isRecording);
    EXPECT_EQ(rig.window->arm()->text().toStdString(), "● ARM");
    EXPECT_EQ(rig.window->arm()->tint(), std::nullopt);
    EXPECT_EQ(rig.window->record()->text().toStdString(), "● RECORD");

    // ARM while armed disarms: a later hit records nothing.
    rig.window->toggleArm();
    rig.window->toggleArm();
    EXPECT_FALSE(rig.window->armed());
    rig.advance(0.5);
    rig.hit();
    rig.advance(0.5);
    EXPECT_FALSE(rig.studio->isRecording);
}

TEST(WebcamWindowRecording, BothButtonsShowTheRunningTime) {
    WindowRig rig;
    rig.window->open();
    rig.window->toggleFloating();
    rig.window->toggleRecording();
    rig.advance(9);
    EXPECT_EQ(rig.window->record()->text().toStdString(), "■ STOP  0:09");
    rig.advance(66);
    EXPECT_EQ(rig.window->record()->text().toStdString(), "■ STOP  1:15");
    EXPECT_EQ(rig.window->arm()->text().toStdString(), "■ STOP  1:15");
    EXPECT_EQ(rig.window->arm()->tint(), std::optional<QColor>(KoalaLook::pink));
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
    EXPECT_EQ(rig.window->record()->text().toStdString(), "● RECORD");
}

TEST(WebcamWindowLifecycle, ClosingTheMainWindowWithTheFloatingPreviewOpenKeepsRecording) {
    WindowRig rig;
    rig.window->open();
    rig.window->toggleOutput();
    rig.window->toggleFloating();
    rig.window->toggleRecording();
    ASSERT_NE(rig.window->output(), nullptr);

    rig.window->window()->close();
    rig.advance(0);
    EXPECT_EQ(rig.window->output(), nullptr);
    EXPECT_TRUE(rig.studio->running);
    EXPECT_TRUE(rig.studio->isRecording);
    EXPECT_TRUE(rig.window->meterRunning());
    rig.advance(2);
    EXPECT_EQ(rig.window->arm()->text().toStdString(), "■ STOP  0:02");

    rig.window->floating()->close();
    rig.advance(0);
    EXPECT_EQ(rig.window->floating(), nullptr);
    EXPECT_FALSE(rig.studio->running);
    EXPECT_FALSE(rig.window->meterRunning());
    EXPECT_EQ(rig.window->record()->text().toStdString(), "● RECORD");
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

TEST(WebcamWindowLifecycle, PicturesReachEveryOpenViewAndMetersFollowTheStudio) {
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
    rig.studio->reading.reduction = 2;
    rig.advance(0.04);
    EXPECT_EQ(rig.window->strip()->meter->meter.reading, rig.studio->reading);
    EXPECT_EQ(rig.window->floatingStrip()->meter->meter.reading, rig.studio->reading);

    rig.studio->problem("The camera is in use by another app.");
    EXPECT_EQ(rig.paragraphs().front(), "The camera is in use by another app.");
    rig.studio->problem(std::nullopt);
    EXPECT_EQ(rig.paragraphs().front(), "Your camera fills the picture.");
}

TEST(WebcamWindowLifecycle, WindowSizesFollowTheShape) {
    WindowRig rig;
    rig.window->open();
    EXPECT_EQ(rig.window->window()->windowTitle(), "Tandem · Webcam");
    EXPECT_EQ(rig.window->window()->size(), QSize(1500, 750));
    rig.window->toggleOutput();
    rig.window->toggleFloating();
    EXPECT_EQ(rig.window->output()->windowTitle(), "Tandem · Webcam Output");
    EXPECT_EQ(rig.window->floating()->windowTitle(), "Webcam");
    EXPECT_EQ(rig.window->output()->size(), QSize(960, 540));
    EXPECT_EQ(rig.window->floating()->size(), QSize(400, 443));
    EXPECT_EQ(rig.window->arm()->geometry(), QRect(6, 407, 388, 32));
    EXPECT_EQ(rig.window->floatingStrip()->geometry(), QRect(6, 231, 388, 172));
    EXPECT_FALSE(rig.window->canvas()->isVisible());
    rig.window->shape()->button(1)->click();
    EXPECT_TRUE(rig.window->canvas()->vertical);
    EXPECT_EQ(rig.window->canvas()->layout, WebcamLayout::standard(true, false));
    // 9:16 in the canvas's 800 × 710: 399.375 wide.
    EXPECT_NEAR(rig.window->canvas()->pictureRect().width(), 710 * 9.0 / 16, 1e-9);
    EXPECT_EQ(rig.window->output()->size(), QSize(405, 720));
    EXPECT_EQ(rig.window->floating()->size(), QSize(290, 734));
    EXPECT_EQ(rig.window->floatingPicture()->geometry(), QRect(0, 0, 290, 516));
    // Made larger by hand: the picture grows, the strip and ARM stay at the bottom.
    rig.window->floating()->resize(500, 818);
    EXPECT_EQ(rig.window->floatingPicture()->geometry(), QRect(0, 0, 500, 600));
    EXPECT_EQ(rig.window->arm()->geometry(), QRect(6, 782, 488, 32));
    rig.window->toggleOutput();
    rig.advance(0);
    EXPECT_EQ(rig.window->output(), nullptr);
}

TEST(WebcamWindowSound, SlidersSnapToHalfADecibelAndLabelIt) {
    WindowRig rig;
    rig.window->open();
    WebcamSoundStrip* strip = rig.window->strip();
    strip->drive->setValue(326);
    EXPECT_EQ(strip->drive->value(), 350);
    EXPECT_EQ(strip->driveValue->text().toStdString(), "+3.5 dB");
    strip->threshold->setValue(-774);
    EXPECT_EQ(strip->threshold->value(), -750);
    EXPECT_EQ(strip->thresholdValue->text().toStdString(), "-7.5 dB");
    EXPECT_EQ(rig.studio->saved.back().drive, std::optional<double>(3.5));
    EXPECT_EQ(rig.studio->saved.back().threshold, std::optional<double>(-7.5));
}

TEST(WebcamWindowSound, ADragSavesOnlyAtItsEnd) {
    WindowRig rig;
    rig.window->open();
    WebcamSoundStrip* strip = rig.window->strip();
    const size_t before = rig.studio->saved.size();
    strip->drive->setSliderDown(true);
    strip->drive->setValue(400);
    strip->drive->setValue(612);
    EXPECT_EQ(rig.studio->current.drive, std::optional<double>(6));
    EXPECT_EQ(rig.studio->saved.size(), before);
    strip->drive->setSliderDown(false);
    ASSERT_EQ(rig.studio->saved.size(), before + 1);
    EXPECT_EQ(rig.studio->saved.back().drive, std::optional<double>(6));
    EXPECT_EQ(strip->drive->value(), 600);
}

TEST(WebcamWindowSound, StripsMirrorEachOther) {
    WindowRig rig([](FakeStudio& studio) {
        studio.current.limiter = false;
        studio.current.drive = 2;
    });
    rig.window->open();
    rig.window->toggleFloating();
    WebcamSoundStrip* main = rig.window->strip();
    WebcamSoundStrip* floating = rig.window->floatingStrip();
    // Absent switches read as on, except LISTEN; no limiter, no threshold to set.
    EXPECT_TRUE(main->mpcOut->isChecked());
    EXPECT_FALSE(floating->limiter->isChecked());
    EXPECT_FALSE(floating->threshold->isEnabled());
    EXPECT_FALSE(main->listen->isChecked());
    EXPECT_EQ(floating->driveValue->text().toStdString(), "+2.0 dB");

    main->drive->setValue(1000);
    EXPECT_EQ(floating->drive->value(), 1000);
    EXPECT_EQ(floating->driveValue->text().toStdString(), "+10.0 dB");
    floating->limiter->click();
    EXPECT_TRUE(main->limiter->isChecked());
    EXPECT_TRUE(main->threshold->isEnabled());
    floating->listen->click();
    EXPECT_TRUE(main->listen->isChecked());
    EXPECT_EQ(rig.studio->current.listen, std::optional<bool>(true));
}

// The canvas covers 800 × 710; a 16:9 picture in it is 800 × 450 from y = 130.
TEST(WebcamWindowLayout, DraggingTheCardMovesItAndClampsItToThePicture) {
    WindowRig rig;
    rig.window->open();
    rig.window->editLayout()->click();
    WebcamLayoutCanvas* canvas = rig.window->canvas();
    ASSERT_TRUE(canvas->isVisible());
    EXPECT_EQ(canvas->pictureRect(), QRectF(0, 130, 800, 450));
    const QRectF card = canvas->rectOf(WebcamLayoutCanvas::Part::card);
    const size_t before = rig.studio->saved.size();

    // 80 points right and 45 up: a tenth of the picture each way.
    send(canvas, QEvent::MouseButtonPress, card.center(), Qt::LeftButton);
    send(canvas, QEvent::MouseMove, card.center() + QPointF(80, -45), Qt::LeftButton);
    EXPECT_NEAR(rig.studio->current.layouts->at("wide").card.x, 0.125, 1e-9);
    EXPECT_NEAR(rig.studio->current.layouts->at("wide").card.y, 0.144, 1e-9);
    EXPECT_EQ(rig.studio->saved.size(), before);
    // Far past the right and bottom edges.
    send(canvas, QEvent::MouseMove, card.center() + QPointF(5000, 5000), Qt::LeftButton);
    send(canvas, QEvent::MouseButtonRelease, card.center() + QPointF(5000, 5000), Qt::NoButton);
    ASSERT_EQ(rig.studio->saved.size(), before + 1);
    const Point placed = rig.studio->saved.back().layouts->at("wide").card;
    EXPECT_NEAR(placed.x, 1 - 680.0 / 1920, 1e-9);
    EXPECT_EQ(placed.y, 0);

    // A press outside every part does nothing.
    dragOn(canvas, {790, 140}, {700, 300});
    EXPECT_EQ(rig.studio->saved.size(), before + 1);

    rig.window->resetLayout();
    EXPECT_EQ(rig.studio->saved.back().layouts->count("wide"), 0u);
    EXPECT_EQ(canvas->layout, WebcamLayout::standard(false, false));
    rig.window->editLayout()->click();
    EXPECT_FALSE(canvas->isVisible());
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
    const QRectF koala = canvas->rectOf(WebcamLayoutCanvas::Part::koala);
    EXPECT_EQ(koala, QRectF(80, 310, 400, 225));

    dragOn(canvas, {478, 312}, {478 + 40, 312 - 45});
    Rect sized = rig.studio->saved.back().layouts->at("wide tutorial").koala;
    EXPECT_NEAR(sized.height, 0.6, 1e-9);
    EXPECT_NEAR(sized.width, 0.55, 1e-9);
    EXPECT_NEAR(sized.x, 0.1, 1e-9);
    EXPECT_NEAR(sized.y, 0.1, 1e-9);

    // The inside of Koala's screen moves it, no further than the left edge.
    dragOn(canvas, {400, 300}, {400 - 8000, 300});
    sized = rig.studio->saved.back().layouts->at("wide tutorial").koala;
    EXPECT_EQ(sized.x, 0);
    EXPECT_NEAR(sized.y, 0.1, 1e-9);
    EXPECT_NEAR(sized.width, 0.55, 1e-9);

    // Never past the top or right edge, never under a tenth.
    const QPointF corner = canvas->rectOf(WebcamLayoutCanvas::Part::koala).topRight();
    dragOn(canvas, corner, corner + QPointF(3000, -3000));
    sized = rig.studio->saved.back().layouts->at("wide tutorial").koala;
    EXPECT_NEAR(sized.width, 1.0, 1e-9);
    EXPECT_NEAR(sized.height, 0.9, 1e-9);
    const QPointF far = canvas->rectOf(WebcamLayoutCanvas::Part::koala).topRight();
    dragOn(canvas, far, far + QPointF(-3000, 3000));
    sized = rig.studio->saved.back().layouts->at("wide tutorial").koala;
    EXPECT_NEAR(sized.width, 0.1, 1e-9);
    EXPECT_NEAR(sized.height, 0.1, 1e-9);

    // Where the card lies over Koala's screen, a press takes the card.
    const size_t before = rig.studio->saved.size();
    dragOn(canvas, {100, 520}, {140, 520});
    EXPECT_EQ(rig.studio->saved.size(), before + 1);
    EXPECT_EQ(rig.studio->saved.back().layouts->at("wide tutorial").koala, sized);
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
    EXPECT_EQ(rig.paragraphs().size(), 5);
    EXPECT_EQ(rig.paragraphs()[0], "Koala isn't playing sound yet. Play a pad, then open Webcam again.");
    EXPECT_EQ(rig.paragraphs()[1], "Koala's window fills the picture with you in the corner.");
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
    EXPECT_EQ(rig.window->learnStutter()->text().toStdString(), "LEARN KOALA'S STUTTER");
}

TEST(WebcamWindowTexts, FolderIsShownShortAndAChosenOneIsStored) {
    WindowRig rig;
    rig.window->open();
    EXPECT_EQ(rig.window->folderLabel()->text().toStdString(), "~/Movies/Tandem");
    EXPECT_EQ(QtWebcamWindow::abbreviated(rig.home.path()), "~");
    EXPECT_EQ(QtWebcamWindow::abbreviated("/elsewhere/films"), "/elsewhere/films");
    // A folder whose name merely begins like the home folder's is not under it.
    EXPECT_EQ(QtWebcamWindow::abbreviated(rig.home.path().string() + "x/films"),
              rig.home.path().string() + "x/films");

    const auto chosen = rig.home.path() / "Performances";
    std::filesystem::create_directories(chosen);
    rig.window->chooseFolder();
    auto* panel = rig.window->window()->findChild<QFileDialog*>();
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->windowTitle(), "Choose where Webcam recordings are saved");
    EXPECT_EQ(panel->labelText(QFileDialog::Accept), "Use This Folder");
    EXPECT_EQ(panel->fileMode(), QFileDialog::Directory);
    emit panel->fileSelected(QString::fromStdString(chosen.string()));
    panel->close();
    EXPECT_EQ(rig.studio->saved.back().folder, std::optional<std::string>(chosen.string()));
    EXPECT_EQ(rig.window->folderLabel()->text().toStdString(), "~/Performances");
    EXPECT_EQ(rig.paragraphs().back(), "Recordings go to ~/Performances.");
}

TEST(WebcamWindowPicture, WindowIsDrawnIntoTheBuildFolder) {
    WindowRig rig([](FakeStudio& studio) {
        studio.cameraList = {{"cam-a", "Desk Camera", CameraKind::external}};
        studio.current.tutorial = true;
    });
    rig.window->open();
    QImage frame(1920, 1080, QImage::Format_RGB32);
    frame.fill(QColor(30, 30, 60));
    rig.studio->picture(frame);
    rig.studio->reading.rms = {-12, -18};
    rig.studio->reading.peak = {-4, -9};
    rig.advance(0.05);
    const QPoint inside = rig.window->preview()->geometry().center();
    QImage shot = rig.window->window()->grab().toImage();
    ASSERT_EQ(shot.size(), QSize(1500, 750) * shot.devicePixelRatio());
    EXPECT_EQ(shot.pixelColor(inside).rgb() & 0xffffff, QColor(30, 30, 60).rgb() & 0xffffff);
    // With the layout editor on, Koala's screen gets its faint yellow wash.
    rig.window->editLayout()->click();
    shot = rig.window->window()->grab().toImage();
    const QColor washed = shot.pixelColor(inside);
    EXPECT_GT(washed.red(), 30);
    EXPECT_GT(washed.green(), 30);
    std::filesystem::create_directories(TANDEM_WEBCAM_WINDOW_OUTPUT_DIR);
    EXPECT_TRUE(shot.save(TANDEM_WEBCAM_WINDOW_OUTPUT_DIR "/webcam_window.png"));
}

} // namespace
} // namespace tandem
