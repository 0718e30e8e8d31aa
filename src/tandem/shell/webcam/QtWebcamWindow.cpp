#include "tandem/shell/webcam/QtWebcamWindow.h"

#include "base/Paths.h"
#include "tandem/looks/KoalaLook.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QUrl>

#include <cmath>

namespace tandem {

namespace {

constexpr double meterSeconds = 1.0 / 30;
constexpr double clockSeconds = 0.5;
constexpr double armSeconds = 0.02;
constexpr int floatingExtra = WebcamSoundStrip::height + 46;

QString text(const std::string& value) {
    return QString::fromStdString(value);
}

// Selects the item carrying `id`, else the first.
void selectData(QComboBox* menu, const std::optional<std::string>& id) {
    int index = id ? menu->findData(text(*id)) : -1;
    if (index < 0 && !id) {
        // The item that carries nothing stands for "none".
        for (int i = 0; i < menu->count(); ++i)
            if (!menu->itemData(i).isValid()) index = i;
    }
    menu->setCurrentIndex(index < 0 ? 0 : index);
}

std::optional<std::string> selectedData(const QComboBox* menu) {
    const QVariant data = menu->currentData();
    if (!data.isValid()) return std::nullopt;
    return data.toString().toStdString();
}

} // namespace

void WebcamWindowFrame::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (event->isAccepted() && onClose) onClose();
}

void QtWebcamWindow::revealInFileViewer(const std::filesystem::path& file) {
    // The desktop's file viewer opens the folder; selecting the file itself is up to the viewer.
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(file.parent_path().string())));
}

void WebcamWindowFrame::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (onResize) onResize();
}

std::string QtWebcamWindow::abbreviated(const std::filesystem::path& path) {
    const std::string home = Paths::home().lexically_normal().string();
    std::string whole = path.lexically_normal().string();
    std::string trimmedHome = home;
    while (trimmedHome.size() > 1 && trimmedHome.back() == '/')
        trimmedHome.pop_back();
    if (trimmedHome.empty() || trimmedHome == "/") return whole;
    if (whole == trimmedHome) return "~";
    if (whole.size() > trimmedHome.size() && whole.compare(0, trimmedHome.size(), trimmedHome) == 0 &&
        whole[trimmedHome.size()] == '/')
        return "~" + whole.substr(trimmedHome.size());
    return whole;
}

std::string QtWebcamWindow::clockText(long long seconds) {
    if (seconds < 0) seconds = 0;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%lld:%02lld", seconds / 60, seconds % 60);
    return buffer;
}

QtWebcamWindow::QtWebcamWindow(Services given)
    : services(std::move(given)) {
    build();
    services.studio->setCallbacks(
        [weak = std::weak_ptr<bool>(alive), this](const QImage& frame) {
            if (weak.lock()) showPicture(frame);
        },
        [weak = std::weak_ptr<bool>(alive), this](std::optional<std::string> message) {
            if (!weak.lock()) return;
            problemText = std::move(message);
            refreshNote();
        });
}

QtWebcamWindow::~QtWebcamWindow() {
    alive.reset();
    armWatch.reset();
    clock.reset();
    meterClock.reset();
    services.studio->setCallbacks(nullptr, nullptr);
    if (auto touch = services.studio->stutter()) touch->onLearned = nullptr;
    delete outputWindow;
    delete floatingWindow;
    delete frame;
}

std::function<void()> QtWebcamWindow::weakly(void (QtWebcamWindow::*action)()) {
    return [weak = std::weak_ptr<bool>(alive), this, action] {
        if (weak.lock()) (this->*action)();
    };
}

void QtWebcamWindow::build() {
    frame = new WebcamWindowFrame;
    frame->setWindowTitle(title);
    frame->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::WindowMinimizeButtonHint);
    frame->setFixedSize(contentSize);
    frame->onClose = [this] { mainClosed(); };
    const double H = contentSize.height();

    previewView = new WebcamPictureView(frame);
    previewView->setGeometry(fromBottomLeft({20, 20, 800, 710}, H));
    layoutCanvas = new WebcamLayoutCanvas(frame);
    layoutCanvas->setGeometry(previewView->geometry());
    layoutCanvas->hide();
    layoutCanvas->onChange = [this](const WebcamLayout& layout, bool done) {
        const std::string key = WebcamSettings::shapeKey(layoutCanvas->vertical, layoutCanvas->tutorial);
        (void)services.studio->update(done, [&](WebcamSettings& settings) {
            if (!settings.layouts) settings.layouts.emplace();
            (*settings.layouts)[key] = layout;
        });
    };

    // Each column is stacked from its title downwards, in Qt's y-down coordinates.
    struct Column {
        QWidget* parent;
        int x, width, y;
        QWidget* add(QWidget* widget, int height, int gapAfter = 6) {
            widget->setParent(parent);
            widget->setGeometry(x, y, width, height);
            y += height + gapAfter;
            return widget;
        }
        QLabel* title(const char* words) {
            auto* label = new QLabel(QString::fromUtf8(words));
            label->setFont(KoalaLook::font(24));
            add(label, 38, 0);
            return label;
        }
        QLabel* section(const char* words) {
            auto* label = new QLabel(QString::fromUtf8(words));
            add(label, 20, 0);
            return label;
        }
    };
    const int top = int(H) - 660 - 38;

    Column middle{frame, 845, 315, top};
    middle.title("WEBCAM");
    middle.section("CAMERA");
    cameraMenu = static_cast<QComboBox*>(middle.add(new QComboBox, 26));
    middle.section("SOUND");
    soundMenu = static_cast<QComboBox*>(middle.add(new QComboBox, 26));
    middle.section("SHAPE");
    auto* shapeRow = middle.add(new QWidget, 26);
    shapeGroup = new QButtonGroup(shapeRow);
    shapeGroup->setExclusive(true);
    for (int segment = 0; segment < 2; ++segment) {
        auto* button = new QPushButton(segment == 0 ? "16:9" : "9:16", shapeRow);
        button->setCheckable(true);
        button->setGeometry(segment * 315 / 2, 0, 315 / 2, 26);
        shapeGroup->addButton(button, segment);
    }
    middle.section("CAMERA IN 9:16");
    rotateMenu = static_cast<QComboBox*>(middle.add(new QComboBox, 26));
    rotateMenu->addItems({"Upright (no turn)", "Turn right", "Turn left"});
    const char* checkTitles[] = {"Koala screen (tutorial)", "Pad and waveform overlay", "Video effects",
                                 "Mirror camera"};
    for (size_t i = 0; i < checkBoxes.size(); ++i)
        checkBoxes[i] = static_cast<QCheckBox*>(middle.add(new QCheckBox(checkTitles[i]), 22, 6));
    middle.y += 8;
    auto button = [&](QPushButton* made) {
        made->setFont(KoalaLook::font(16));
        middle.add(made, 32, 6);
        return made;
    };
    learnButton = button(new QPushButton("LEARN KOALA'S STUTTER"));
    holdButton = static_cast<WebcamHoldButton*>(button(new WebcamHoldButton("HOLD FOR STUTTER")));
    recordButton = button(new QPushButton(QString::fromUtf8("● RECORD")));
    auto* outputButton = button(new QPushButton("OUTPUT WINDOW (FOR OBS)"));
    auto* floatingButton = button(new QPushButton("FLOATING PREVIEW"));
    noteLabel = new QLabel;
    noteLabel->setWordWrap(true);
    noteLabel->setTextFormat(Qt::PlainText);
    noteLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Five paragraphs do not fit in what is left of the column: the note scrolls.
    auto* noteArea = new QScrollArea;
    noteArea->setFrameShape(QFrame::NoFrame);
    noteArea->setWidgetResizable(true);
    noteArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    noteArea->setWidget(noteLabel);
    middle.add(noteArea, std::max(40, int(H) - 20 - middle.y), 0);

    Column right{frame, 1185, 295, top};
    right.title("SOUND OUT");
    mainStrip = static_cast<WebcamSoundStrip*>(right.add(new WebcamSoundStrip, WebcamSoundStrip::height));
    right.section("LISTEN THROUGH");
    listenMenu = static_cast<QComboBox*>(right.add(new QComboBox, 26));
    right.title("LAYOUT");
    editLayoutBox = static_cast<QCheckBox*>(right.add(new QCheckBox("Move things on the picture"), 22));
    auto* resetButton = static_cast<QPushButton*>(right.add(new QPushButton("RESET LAYOUT"), 32));
    auto* help =
        new QLabel("Drag the card, or Koala's screen in the tutorial layout; drag Koala's top-right corner "
                   "to size it. Each shape and the tutorial layout keep their own places.");
    help->setWordWrap(true);
    right.add(help, 56);
    right.section("RECORDINGS GO TO");
    folderText = static_cast<QLabel*>(right.add(new QLabel, 18));
    auto* folderButton =
        static_cast<QPushButton*>(right.add(new QPushButton(QString::fromUtf8("CHOOSE FOLDER…")), 32));

    for (QComboBox* menu : {cameraMenu, soundMenu, rotateMenu})
        QObject::connect(menu, &QComboBox::activated, frame, [this] { changed(); });
    QObject::connect(shapeGroup, &QButtonGroup::idClicked, frame, [this] { changed(); });
    for (QCheckBox* box : checkBoxes)
        QObject::connect(box, &QCheckBox::clicked, frame, [this] { changed(); });
    QObject::connect(listenMenu, &QComboBox::activated, frame, [this] { listenDeviceChanged(); });
    QObject::connect(learnButton, &QPushButton::clicked, frame, [this] { learnKoalaStutter(); });
    QObject::connect(recordButton, &QPushButton::clicked, frame, [this] { toggleRecording(); });
    QObject::connect(outputButton, &QPushButton::clicked, frame, [this] { toggleOutput(); });
    QObject::connect(floatingButton, &QPushButton::clicked, frame, [this] { toggleFloating(); });
    QObject::connect(editLayoutBox, &QCheckBox::clicked, frame, [this] { toggleEditLayout(); });
    QObject::connect(resetButton, &QPushButton::clicked, frame, [this] { resetLayout(); });
    QObject::connect(folderButton, &QPushButton::clicked, frame, [this] { chooseFolder(); });
    holdButton->onHold = [this](bool pressed) { services.studio->feed().setManualStutter(pressed); };
    mainStrip->onChange = [this](auto change, bool done) { soundChanged(change, done); };
}

void QtWebcamWindow::showPicture(const QImage& picture) {
    previewView->show(picture);
    if (outputView) outputView->show(picture);
    if (floatingView) floatingView->show(picture);
}

void QtWebcamWindow::startMeters() {
    if (meterClock) return;
    meterClock = services.main->timer(meterSeconds, meterSeconds, [weak = std::weak_ptr<bool>(alive), this] {
        if (!weak.lock()) return;
        const auto reading = services.studio->meter();
        for (WebcamSoundStrip* strip : {mainStrip, floatStrip}) {
            if (!strip) continue;
            strip->meter->meter.reading = reading;
            strip->meter->update();
        }
    });
}

void QtWebcamWindow::open() {
    fillControls();
    services.studio->start();
    startMeters();
    frame->show();
    frame->raise();
    frame->activateWindow();
    refreshNote();
}

void QtWebcamWindow::openFloating() {
    fillControls();
    services.studio->start();
    startMeters();
    if (!floatingWindow) toggleFloating();
}

void QtWebcamWindow::fillControls() {
    const WebcamSettings settings = services.studio->settings();
    {
        const QSignalBlocker quiet(cameraMenu);
        cameraMenu->clear();
        const auto cameras = services.studio->cameras();
        for (const auto& camera : cameras)
            cameraMenu->addItem(text(camera.name), text(camera.uniqueID));
        if (cameras.empty()) cameraMenu->addItem("No camera found");
        const int index = settings.camera ? cameraMenu->findData(text(*settings.camera)) : -1;
        cameraMenu->setCurrentIndex(std::max(index, 0));
    }
    {
        const QSignalBlocker quiet(soundMenu);
        soundMenu->clear();
        soundMenu->addItem("Koala's own sound", QString(WebcamSettings::koalaAudio));
        for (const auto& microphone : services.studio->microphones())
            soundMenu->addItem(text(microphone.name), text(microphone.uniqueID));
        selectData(soundMenu, settings.audio);
    }
    {
        const QSignalBlocker quiet(listenMenu);
        listenMenu->clear();
        listenMenu->addItem("Mac's default output");
        for (const auto& device : services.studio->outputs())
            listenMenu->addItem(text(device.name), text(device.uid));
        selectData(listenMenu, settings.listenDevice);
    }
    {
        const QSignalBlocker quiet(rotateMenu);
        const long long rotate = settings.rotate.value_or(1);
        rotateMenu->setCurrentIndex(rotate >= 0 && rotate < rotateMenu->count() ? int(rotate) : 1);
    }
    shapeGroup->button(settings.vertical ? 1 : 0)->setChecked(true);
    const bool states[] = {settings.tutorial, settings.overlay, settings.effects, settings.mirror};
    for (size_t i = 0; i < checkBoxes.size(); ++i)
        checkBoxes[i]->setChecked(states[i]);
    folderText->setText(text(abbreviated(settings.folderPath())));
    mainStrip->show(settings);
    if (floatStrip) floatStrip->show(settings);
    showLearn();
    syncCanvas();
    showRecording();
}

void QtWebcamWindow::changed() {
    const WebcamSettings stored = services.studio->settings();
    // An item without an id ("No camera found") keeps the stored camera.
    const std::optional<std::string> camera =
        cameraMenu->currentData().isValid() ? selectedData(cameraMenu) : stored.camera;
    const std::string audio = selectedData(soundMenu).value_or(WebcamSettings::koalaAudio);
    const bool vertical = shapeGroup->checkedId() == 1;
    const long long rotate = rotateMenu->currentIndex();
    const bool tutorial = checkBoxes[0]->isChecked();
    const bool overlay = checkBoxes[1]->isChecked();
    const bool effects = checkBoxes[2]->isChecked();
    const bool mirror = checkBoxes[3]->isChecked();

    if (services.studio->recording() && vertical != stored.vertical) {
        shapeGroup->button(stored.vertical ? 1 : 0)->setChecked(true);
        problemText = "Stop recording before changing the shape.";
        refreshNote();
        return;
    }
    const auto saved = services.studio->update(true, [&](WebcamSettings& settings) {
        settings.camera = camera;
        settings.audio = audio;
        settings.vertical = vertical;
        settings.rotate = rotate;
        settings.tutorial = tutorial;
        settings.overlay = overlay;
        settings.effects = effects;
        settings.mirror = mirror;
    });
    if (!saved) problemText = saved.error().description;
    sizeOutput();
    syncCanvas();
    refreshNote();
}

void QtWebcamWindow::soundChanged(const std::function<void(WebcamSettings&)>& change, bool done) {
    (void)services.studio->update(done, change);
    const WebcamSettings settings = services.studio->settings();
    mainStrip->show(settings);
    if (floatStrip) floatStrip->show(settings);
}

void QtWebcamWindow::listenDeviceChanged() {
    const std::optional<std::string> device = selectedData(listenMenu);
    (void)services.studio->update(true, [&](WebcamSettings& settings) { settings.listenDevice = device; });
}

void QtWebcamWindow::toggleEditLayout() {
    layoutCanvas->setVisible(editLayoutBox->isChecked());
    if (layoutCanvas->isVisible()) layoutCanvas->raise();
    syncCanvas();
}

void QtWebcamWindow::syncCanvas() {
    const WebcamSettings settings = services.studio->settings();
    layoutCanvas->vertical = settings.vertical;
    layoutCanvas->tutorial = settings.tutorial;
    layoutCanvas->layout = settings.layout();
    layoutCanvas->update();
}

void QtWebcamWindow::resetLayout() {
    (void)services.studio->update(true, [](WebcamSettings& settings) {
        if (settings.layouts) settings.layouts->erase(settings.shapeKey());
    });
    syncCanvas();
}

void QtWebcamWindow::learnKoalaStutter() {
    if (auto touch = services.studio->stutter()) {
        touch->learning = !touch->learning;
        touch->onLearned = [weak = std::weak_ptr<bool>(alive), this](Point point) {
            if (!weak.lock()) return;
            (void)services.studio->update(true,
                                          [&](WebcamSettings& settings) { settings.stutterSpot = point; });
            showLearn();
            refreshNote();
        };
    }
    showLearn();
}

void QtWebcamWindow::showLearn() {
    const auto touch = services.studio->stutter();
    if (touch && touch->learning) {
        learnButton->setText(QString::fromUtf8("NOW TOUCH STUTTER ON KOALA…"));
        return;
    }
    learnButton->setText(services.studio->settings().stutterSpot
                             ? QString::fromUtf8("KOALA'S STUTTER LEARNED ✓")
                             : QString("LEARN KOALA'S STUTTER"));
}

void QtWebcamWindow::toggleRecording() {
    armWatch.reset();
    if (armedAt) {
        armedAt.reset();
        showRecording();
    }
    if (services.studio->recording()) {
        clock.reset();
        recordStarted.reset();
        showRecording();
        services.studio->stopRecording([weak = std::weak_ptr<bool>(alive),
                                        this](std::optional<std::filesystem::path> file) {
            if (!weak.lock()) return;
            if (file) {
                problemText =
                    "Saved " + file->filename().string() + " in " + abbreviated(file->parent_path()) + ".";
                refreshNote();
                if (services.reveal) services.reveal(*file);
            } else {
                problemText = "The recording couldn't be saved.";
                refreshNote();
            }
        });
        return;
    }
    const auto started = services.studio->startRecording();
    if (!started) {
        problemText = "Recording didn't start: " + started.error().description;
        refreshNote();
        return;
    }
    recordStarted = services.clock.uptime();
    problemText.reset();
    clock = services.main->timer(clockSeconds, clockSeconds, weakly(&QtWebcamWindow::showRecording));
    showRecording();
    refreshNote();
}

void QtWebcamWindow::toggleArm() {
    const bool recording = services.studio->recording();
    if (armedAt) {
        armWatch.reset();
        armedAt.reset();
        showRecording();
        return;
    }
    if (recording) {
        toggleRecording();
        return;
    }
    armedAt = services.clock.uptime();
    showRecording();
    armWatch = services.main->timer(armSeconds, armSeconds, [weak = std::weak_ptr<bool>(alive), this] {
        if (!weak.lock() || !armedAt) return;
        const auto hit = services.studio->feed().snapshot().lastHit;
        if (hit && hit->time > *armedAt) toggleRecording();
    });
}

void QtWebcamWindow::showRecording() {
    if (recordStarted) {
        const auto seconds = static_cast<long long>(std::floor(services.clock.uptime() - *recordStarted));
        const QString stop = QString::fromUtf8("■ STOP  ") + text(clockText(seconds));
        recordButton->setText(stop);
        if (armButton) {
            armButton->setText(stop);
            armButton->setTint(KoalaLook::pink);
        }
        return;
    }
    recordButton->setText(QString::fromUtf8("● RECORD"));
    if (!armButton) return;
    if (armedAt) {
        armButton->setText(QString::fromUtf8("ARMED · PLAY A PAD"));
        armButton->setTint(KoalaLook::pink);
    } else {
        armButton->setText(QString::fromUtf8("● ARM"));
        armButton->setTint(std::nullopt);
    }
}

void QtWebcamWindow::toggleOutput() {
    if (outputWindow) {
        outputWindow->close();
        return;
    }
    auto* window = new WebcamWindowFrame;
    window->setWindowTitle(outputTitle);
    window->resize(960, 540);
    outputView = new WebcamPictureView(window);
    outputView->setGeometry(window->rect());
    outputWindow = window;
    window->onResize = [this] { placeOutput(); };
    window->onClose = [this, window] {
        if (outputWindow != window) return;
        outputWindow = nullptr;
        outputView = nullptr;
        window->deleteLater();
    };
    sizeOutput();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect placed = window->frameGeometry();
        placed.moveCenter(screen->availableGeometry().center());
        window->move(placed.topLeft());
    }
    window->show();
}

void QtWebcamWindow::sizeOutput() {
    const bool vertical = services.studio->settings().vertical;
    if (outputWindow) {
        outputWindow->resize(vertical ? QSize(405, 720) : QSize(960, 540));
        placeOutput();
    }
    if (floatingWindow) {
        floatingWindow->resize(vertical ? QSize(290, 516 + floatingExtra) : QSize(400, 225 + floatingExtra));
        placeFloating();
    }
}

void QtWebcamWindow::placeOutput() {
    if (outputWindow) outputView->setGeometry(outputWindow->rect());
}

void QtWebcamWindow::placeFloating() {
    if (!floatingWindow) return;
    // The picture takes whatever the panel gives it above the strip and ARM.
    const int w = floatingWindow->width();
    const int h = floatingWindow->height();
    floatingView->setGeometry(0, 0, w, std::max(0, h - floatingExtra));
    floatStrip->setGeometry(fromBottomLeft({6, 40, double(w - 12), double(WebcamSoundStrip::height)}, h));
    armButton->setGeometry(fromBottomLeft({6, 4, double(w - 12), 32}, h));
}

void QtWebcamWindow::toggleFloating() {
    if (floatingWindow) {
        floatingWindow->close();
        return;
    }
    buildFloating();
    floatStrip->show(services.studio->settings());
    sizeOutput();
    showRecording();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect visible = screen->availableGeometry();
        floatingWindow->move(visible.right() + 1 - 20 - floatingWindow->frameGeometry().width(),
                             visible.top() + 20);
    }
    floatingWindow->show();
    floatingWindow->raise();
}

void QtWebcamWindow::buildFloating() {
    auto* panel = new WebcamWindowFrame;
    panel->setWindowTitle(floatingTitle);
    // A titled panel that floats over every window and never takes focus from Koala.
    panel->setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::WindowStaysOnTopHint);
    panel->setAttribute(Qt::WA_ShowWithoutActivating);
    panel->resize(400, 225 + floatingExtra);
    floatingView = new WebcamPictureView(panel);
    floatStrip = new WebcamSoundStrip(panel);
    floatStrip->onChange = [this](auto change, bool done) { soundChanged(change, done); };
    armButton = new WebcamFirstClickButton(QString::fromUtf8("● ARM"), panel);
    armButton->setFont(KoalaLook::font(15));
    QObject::connect(armButton, &QPushButton::clicked, panel, [this] { toggleArm(); });
    floatingWindow = panel;
    panel->onResize = [this] { placeFloating(); };
    panel->onClose = [this, panel] {
        if (floatingWindow != panel) return;
        floatingClosed();
        panel->deleteLater();
    };
}

void QtWebcamWindow::mainClosed() {
    if (outputWindow) outputWindow->close();
    if (floatingWindow) return;
    shutDown();
}

void QtWebcamWindow::floatingClosed() {
    floatingWindow = nullptr;
    floatingView = nullptr;
    floatStrip = nullptr;
    armButton = nullptr;
    if (!frame->isVisible()) shutDown();
}

void QtWebcamWindow::shutDown() {
    armWatch.reset();
    armedAt.reset();
    clock.reset();
    recordStarted.reset();
    meterClock.reset();
    showRecording();
    services.studio->feed().setManualStutter(false);
    // The studio finishes a running recording as it stops, so the file is kept.
    services.studio->stop();
}

void QtWebcamWindow::chooseFolder() {
    const WebcamSettings settings = services.studio->settings();
    auto* panel = new QFileDialog(frame, "Choose where Webcam recordings are saved",
                                  QString::fromStdString(settings.folderPath().string()));
    panel->setFileMode(QFileDialog::Directory);
    panel->setOption(QFileDialog::ShowDirsOnly);
    panel->setLabelText(QFileDialog::Accept, "Use This Folder");
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setWindowModality(Qt::WindowModal);
    QObject::connect(panel, &QFileDialog::fileSelected, frame, [this](const QString& chosen) {
        if (!chosen.isEmpty()) useFolder(chosen.toStdString());
    });
    panel->open();
}

void QtWebcamWindow::useFolder(const std::filesystem::path& folder) {
    const auto saved =
        services.studio->update(true, [&](WebcamSettings& settings) { settings.folder = folder.string(); });
    if (!saved) problemText = saved.error().description;
    folderText->setText(text(abbreviated(services.studio->settings().folderPath())));
    refreshNote();
}

void QtWebcamWindow::refreshNote() {
    const WebcamSettings settings = services.studio->settings();
    std::vector<std::string> paragraphs;
    if (problemText) paragraphs.push_back(*problemText);
    paragraphs.push_back(settings.tutorial ? "Koala's window fills the picture with you in the corner."
                                           : "Your camera fills the picture.");
    paragraphs.push_back(
        settings.stutterSpot
            ? "Touching STUTTER on Koala's Perform page stutters the video at Koala's own timing. CUTTER "
              "cuts the "
              "picture to black in time; with a knob, a little is 1/4 notes and all the way is 1/32."
            : "Touching STUTTER on Koala's screen: press LEARN KOALA'S STUTTER, then touch STUTTER on "
              "Koala's "
              "Perform page once. The video then stutters with it, at Koala's own timing.");
    paragraphs.push_back(
        "LISTEN swaps Koala's own sound for the one with DRIVE, MPC3000 OUT and the limiter, on the "
        "LISTEN THROUGH output.");
    paragraphs.push_back("Recordings go to " + abbreviated(settings.folderPath()) + ".");
    std::string joined;
    for (const auto& paragraph : paragraphs) {
        if (!joined.empty()) joined += "\n\n";
        joined += paragraph;
    }
    noteLabel->setText(text(joined));
}

} // namespace tandem
