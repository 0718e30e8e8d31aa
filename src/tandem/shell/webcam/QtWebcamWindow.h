#pragma once

#include "base/Clock.h"
#include "base/Queue.h"
#include "tandem/shell/webcam/WebcamStudioControl.h"
#include "tandem/shell/webcam/WebcamWidgets.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tandem {

// A top-level window that tells its owner when the user closes it.
class WebcamWindowFrame final : public QWidget {
public:
    using QWidget::QWidget;
    std::function<void()> onClose;
    std::function<void()> onResize;

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
};

// The Webcam window: the live picture, the studio's controls, the layout editor, recording by hand or
// armed on the first pad hit, an output window for streaming software and a small floating preview.
// Every control change becomes a settings change on the studio. Everything runs on the main queue; its
// timers run there too and hold the window weakly.
class QtWebcamWindow {
public:
    struct Services {
        std::shared_ptr<WebcamStudioControl> studio;
        std::shared_ptr<Queue> main;
        Clock& clock; // host seconds, the performance feed's clock
        // Shows a saved recording in the file viewer; `revealInFileViewer` when none.
        std::function<void(const std::filesystem::path&)> reveal;
    };

    static constexpr QSize contentSize{1500, 750};
    static constexpr const char* title = "Tandem · Webcam";
    static constexpr const char* outputTitle = "Tandem · Webcam Output";
    static constexpr const char* floatingTitle = "Webcam";

    // Needs a QApplication; builds everything, shows nothing.
    explicit QtWebcamWindow(Services services);
    ~QtWebcamWindow();
    QtWebcamWindow(const QtWebcamWindow&) = delete;
    QtWebcamWindow& operator=(const QtWebcamWindow&) = delete;

    void open();
    void openFloating();

    // Control actions, as the controls call them.
    void changed();
    void soundChanged(const std::function<void(WebcamSettings&)>& change, bool done);
    void listenDeviceChanged();
    void toggleEditLayout();
    void resetLayout();
    void learnKoalaStutter();
    void toggleRecording();
    void toggleArm();
    void toggleOutput();
    void toggleFloating();
    void chooseFolder();
    // Stores a chosen recordings folder (the folder panel's answer).
    void useFolder(const std::filesystem::path& folder);

    // The pieces, for tests and screenshots.
    WebcamWindowFrame* window() const { return frame; }
    QWidget* output() const { return outputWindow; }
    QWidget* floating() const { return floatingWindow; }
    WebcamPictureView* preview() const { return previewView; }
    WebcamPictureView* floatingPicture() const { return floatingView; }
    WebcamPictureView* outputPicture() const { return outputView; }
    WebcamFirstClickButton* arm() const { return armButton; }
    WebcamHoldButton* hold() const { return holdButton; }
    QComboBox* cameraPopup() const { return cameraMenu; }
    QComboBox* soundPopup() const { return soundMenu; }
    QComboBox* rotatePopup() const { return rotateMenu; }
    QComboBox* listenPopup() const { return listenMenu; }
    QButtonGroup* shape() const { return shapeGroup; }
    const std::array<QCheckBox*, 4>& checks() const { return checkBoxes; }
    QPushButton* record() const { return recordButton; }
    QPushButton* learnStutter() const { return learnButton; }
    QLabel* note() const { return noteLabel; }
    QLabel* folderLabel() const { return folderText; }
    QCheckBox* editLayout() const { return editLayoutBox; }
    WebcamLayoutCanvas* canvas() const { return layoutCanvas; }
    WebcamSoundStrip* strip() const { return mainStrip; }
    WebcamSoundStrip* floatingStrip() const { return floatStrip; }
    const std::optional<std::string>& problem() const { return problemText; }
    bool armed() const { return armedAt.has_value(); }
    bool meterRunning() const { return meterClock != nullptr; }

    // "~" for the home folder at the start of a path.
    static std::string abbreviated(const std::filesystem::path& path);
    static void revealInFileViewer(const std::filesystem::path& file);
    // "%d:%02d", minutes and seconds.
    static std::string clockText(long long seconds);

private:
    void build();
    void buildFloating();
    void fillControls();
    void refreshNote();
    void showRecording();
    void showLearn();
    void syncCanvas();
    void sizeOutput();
    // The pieces of the output window and the floating preview, fitted to their windows' sizes.
    void placeOutput();
    void placeFloating();
    void shutDown();
    void mainClosed();
    void floatingClosed();
    void startMeters();
    void showPicture(const QImage& frame);
    // A task that runs only while this window lives.
    std::function<void()> weakly(void (QtWebcamWindow::*action)());

    Services services;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);

    WebcamWindowFrame* frame = nullptr;
    WebcamPictureView* previewView = nullptr;
    WebcamLayoutCanvas* layoutCanvas = nullptr;
    QComboBox* cameraMenu = nullptr;
    QComboBox* soundMenu = nullptr;
    QComboBox* rotateMenu = nullptr;
    QComboBox* listenMenu = nullptr;
    QButtonGroup* shapeGroup = nullptr;
    std::array<QCheckBox*, 4> checkBoxes{};
    QPushButton* learnButton = nullptr;
    WebcamHoldButton* holdButton = nullptr;
    QPushButton* recordButton = nullptr;
    QLabel* noteLabel = nullptr;
    WebcamSoundStrip* mainStrip = nullptr;
    QCheckBox* editLayoutBox = nullptr;
    QLabel* folderText = nullptr;

    QWidget* outputWindow = nullptr;
    WebcamPictureView* outputView = nullptr;
    WebcamWindowFrame* floatingWindow = nullptr;
    WebcamPictureView* floatingView = nullptr;
    WebcamSoundStrip* floatStrip = nullptr;
    WebcamFirstClickButton* armButton = nullptr;

    std::optional<std::string> problemText;
    std::optional<double> armedAt;
    std::optional<double> recordStarted;
    std::unique_ptr<Timer> armWatch;
    std::unique_ptr<Timer> clock;
    std::unique_ptr<Timer> meterClock;
};

} // namespace tandem
