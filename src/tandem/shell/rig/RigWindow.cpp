#include "tandem/shell/rig/RigWindow.h"

#include "base/ActivityLog.h"
#include "tandem/app/SimulatedMac.h"
#include "tandem/looks/PanelArt.h"
#include "tandem/profiles/KoalaPushProfile.h"
#include "tandem/shell/rig/RigArt.h"
#include "tandem/shell/rig/RigText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <array>
#include <fstream>
#include <optional>
#include <set>
#include <utility>

namespace tandem {

namespace {

using namespace RigGeometry;

// The touch driver's installer ends with this status when glassbridge is installed but still needs
// Accessibility permission; with 0 when all is well.
constexpr int installerNeedsPermission = 10;
constexpr size_t logReadBytes = 16384;

// The simulated screens. A click on the MPC screen is a finger on it: a press on an overlay panel's
// button when the driver has the screen mapped, else a touch the driver turns into pointer events.
class ScreensView final : public QWidget {
public:
    ScreensView(SimulatedMac& mac, QWidget* parent)
        : QWidget(parent)
        , mac(mac) {
        setObjectName("screens");
        setMinimumSize(480, 260);
        setCursor(Qt::PointingHandCursor);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        RigArt::drawScreens(painter, rect(), mac);
        if (touch && touch->since.elapsed() < 600) {
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(QPen(touch->reached ? QColor(80, 230, 120) : QColor(240, 80, 70), 2));
            painter.setBrush(Qt::NoBrush);
            painter.drawEllipse(touch->at, 9, 9);
        }
    }

    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton) return;
        const std::vector<Screen> screens = mac.rig.screens.screens();
        const auto areas = layoutScreens(screens, rect(), RigArt::screensMargin);
        const ScreenArea* area = screenAt(areas, event->position());
        const auto mpc = mac.rig.mpcScreen();
        if (!area || !mpc || area->screen.number != mpc->number) return;
        const Point global = area->toGlobal(event->position());
        bool reached = false;
        if (SimPanel* panel = panelUnder(global)) {
            reached = mac.rig.touchDriver.mapped();
            if (reached) {
                const QPointF inPanel(global.x - panel->origin().x,
                                      panel->origin().y + panel->plan().size.height - global.y);
                if (auto tag = PanelArt::buttonAt(panel->plan(), inPanel)) panel->tap(*tag);
            }
        } else {
            reached = mac.rig.touchDriver.touch(displayFromGlobal(global, screens));
        }
        touch = Touch{event->position(), reached, {}};
        touch->since.start();
        update();
    }

private:
    // The visible panel under a global point; the panels float over Koala and take the touch.
    SimPanel* panelUnder(Point global) {
        SimPanel* found = nullptr;
        for (SimPanel* panel : mac.rig.panels.panels()) {
            const Rect frame{panel->origin().x, panel->origin().y, panel->plan().size.width,
                             panel->plan().size.height};
            if (panel->isVisible() && frame.contains(global)) found = panel;
        }
        return found;
    }

    struct Touch {
        QPointF at;
        bool reached;
        QElapsedTimer since;
    };
    SimulatedMac& mac;
    std::optional<Touch> touch;
};

// The MPC Touch: pads and buttons pressed while the mouse holds them.
class MpcView final : public QWidget {
public:
    MpcView(SimulatedMac& mac, QWidget* parent)
        : QWidget(parent)
        , mac(mac) {
        setObjectName("mpcTouch");
        setMinimumSize(280, 180);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        RigArt::drawMpcTouch(painter, rect(), mac.rig.mpc, held);
    }

    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton || !mac.rig.mpc.plugged()) return;
        const MpcTouchLayout layout = mpcTouchLayout(rect());
        if (auto pad = layout.padAt(event->position())) {
            mac.rig.mpc.pressPad(*pad);
            held.insert(*pad);
            pressedPad = pad;
        } else if (auto button = layout.buttonAt(event->position())) {
            pressedNote = mpcButtons[size_t(*button)].note;
            mac.rig.mpc.press(uint8_t(*pressedNote));
        }
        update();
    }

    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton) return;
        if (auto pad = std::exchange(pressedPad, std::nullopt)) {
            mac.rig.mpc.releasePad(*pad);
            held.erase(*pad);
        }
        if (auto note = std::exchange(pressedNote, std::nullopt)) mac.rig.mpc.release(uint8_t(*note));
        update();
    }

private:
    SimulatedMac& mac;
    std::set<int> held;
    std::optional<int> pressedPad, pressedNote;
};

// The Push 2: pads and buttons pressed while the mouse holds them, encoders touched while held and
// turned with the wheel.
class PushView final : public QWidget {
public:
    PushView(SimulatedMac& mac, QWidget* parent)
        : QWidget(parent)
        , mac(mac) {
        setObjectName("push2");
        setMinimumSize(380, 320);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        RigArt::drawPush2(painter, rect(), mac.rig.push, mac.rig.pushDisplay, held);
    }

    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton || !mac.rig.push.plugged()) return;
        const Push2Layout layout = push2Layout(rect());
        if (auto pad = layout.padAt(event->position())) {
            mac.rig.push.pressPad(*pad);
            held.insert(*pad);
            pressedPad = pad;
        } else if (auto cc = layout.buttonAt(event->position())) {
            mac.rig.push.button(*cc, true);
            pressedButton = cc;
        } else if (auto encoder = layout.encoderAt(event->position())) {
            mac.rig.push.touchEncoder(*encoder, true);
            touchedEncoder = encoder;
        }
        update();
    }

    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton) return;
        if (auto pad = std::exchange(pressedPad, std::nullopt)) {
            mac.rig.push.releasePad(*pad);
            held.erase(*pad);
        }
        if (auto cc = std::exchange(pressedButton, std::nullopt)) mac.rig.push.button(*cc, false);
        if (auto encoder = std::exchange(touchedEncoder, std::nullopt))
            mac.rig.push.touchEncoder(*encoder, false);
        update();
    }

    void wheelEvent(QWheelEvent* event) override {
        const auto encoder = push2Layout(rect()).encoderAt(event->position());
        if (!encoder || !mac.rig.push.plugged()) {
            event->ignore();
            return;
        }
        // A wheel notch is one detent; fine-grained wheels add up until they make one.
        wheel[size_t(*encoder)] += event->angleDelta().y();
        const int steps = std::clamp(wheel[size_t(*encoder)] / 120, -63, 63);
        if (steps != 0) {
            wheel[size_t(*encoder)] -= steps * 120;
            mac.rig.push.turnEncoder(*encoder, steps);
        }
        event->accept();
    }

private:
    SimulatedMac& mac;
    std::set<int> held;
    std::optional<int> pressedPad, pressedButton, touchedEncoder;
    std::array<int, 11> wheel{};
};

QLabel* valueLabel(const char* name, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QCheckBox* checkBox(const char* name, const QString& title, QWidget* parent) {
    auto* box = new QCheckBox(title, parent);
    box->setObjectName(name);
    return box;
}

std::string readTail(const std::string& path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) return {};
    const std::streamoff size = file.tellg();
    const std::streamoff from = size > std::streamoff(logReadBytes) ? size - std::streamoff(logReadBytes) : 0;
    file.seekg(from);
    std::string text(size_t(size - from), '\0');
    file.read(text.data(), std::streamsize(text.size()));
    text.resize(size_t(file.gcount()));
    // A read that began inside a line drops that line's end.
    if (from > 0) {
        const size_t newline = text.find('\n');
        text = newline == std::string::npos ? std::string() : text.substr(newline + 1);
    }
    return text;
}

void setText(QLabel* label, const std::string& text) {
    const QString value = QString::fromStdString(text);
    if (label->text() != value) label->setText(value);
}

} // namespace

struct RigWindow::Parts {
    explicit Parts(SimulatedMac& mac)
        : mac(mac) {}
    SimulatedMac& mac;
    ScreensView* screens = nullptr;
    MpcView* mpcView = nullptr;
    PushView* pushView = nullptr;
    QLabel *koalaRunning = nullptr, *koalaSettings = nullptr, *koalaProfile = nullptr, *koalaPage = nullptr,
           *koalaBank = nullptr, *notesTandem = nullptr, *notesTandemPush = nullptr, *driverState = nullptr,
           *status = nullptr;
    QCheckBox *saveDialog = nullptr, *refusesQuit = nullptr, *mpcPlugged = nullptr, *pushPlugged = nullptr,
              *inkwellRunning = nullptr, *accessibilityTrusted = nullptr, *installerPermission = nullptr;
    QComboBox* mpcDisplay = nullptr;
    QPlainTextEdit* log = nullptr;
    std::string shownLog;
    QTimer frames, files;
};

RigWindow::RigWindow(SimulatedMac& mac, QWidget* parent)
    : QWidget(parent)
    , parts(std::make_unique<Parts>(mac)) {
    Parts& p = *parts;
    setWindowTitle("Tandem rig");
    resize(1320, 900);

    p.screens = new ScreensView(mac, this);
    p.mpcView = new MpcView(mac, this);
    p.pushView = new PushView(mac, this);

    // Koala.
    auto* koalaBox = new QGroupBox("Koala", this);
    auto* koalaForm = new QFormLayout(koalaBox);
    p.koalaRunning = valueLabel("koalaRunning", koalaBox);
    p.koalaSettings = valueLabel("koalaSettings", koalaBox);
    p.koalaProfile = valueLabel("koalaProfile", koalaBox);
    p.koalaPage = valueLabel("koalaPage", koalaBox);
    p.koalaBank = valueLabel("koalaBank", koalaBox);
    p.notesTandem = valueLabel("notesTandem", koalaBox);
    p.notesTandemPush = valueLabel("notesTandemPush", koalaBox);
    koalaForm->addRow("Running", p.koalaRunning);
    koalaForm->addRow("Settings", p.koalaSettings);
    koalaForm->addRow("Profile", p.koalaProfile);
    koalaForm->addRow("Page", p.koalaPage);
    koalaForm->addRow("Bank", p.koalaBank);
    koalaForm->addRow("Heard on “Tandem”", p.notesTandem);
    koalaForm->addRow("Heard on “Tandem Push”", p.notesTandemPush);
    auto* quit = new QPushButton("Quit", koalaBox);
    quit->setObjectName("koalaQuit");
    auto* kill = new QPushButton("Kill", koalaBox);
    kill->setObjectName("koalaKill");
    auto* quitRow = new QHBoxLayout;
    quitRow->addWidget(quit);
    quitRow->addWidget(kill);
    koalaForm->addRow(quitRow);
    p.saveDialog =
        checkBox("saveDialog", QString("Save dialog on quit (%1 s)").arg(saveDialogSeconds), koalaBox);
    p.refusesQuit = checkBox("refusesQuit", "Refuse to quit", koalaBox);
    koalaForm->addRow(p.saveDialog);
    koalaForm->addRow(p.refusesQuit);

    // The switches.
    auto* switchBox = new QGroupBox("Switches", this);
    auto* switchForm = new QFormLayout(switchBox);
    p.mpcPlugged = checkBox("mpcPlugged", "MPC Touch plugged in", switchBox);
    p.mpcDisplay = new QComboBox(switchBox);
    p.mpcDisplay->setObjectName("mpcDisplay");
    p.mpcDisplay->addItems({"unplugged", "left of the main screen", "above the main screen"});
    p.pushPlugged = checkBox("pushPlugged", "Push 2 plugged in", switchBox);
    p.inkwellRunning = checkBox("inkwellRunning", "Inkwell running", switchBox);
    p.accessibilityTrusted = checkBox("accessibilityTrusted", "Accessibility trusted", switchBox);
    p.installerPermission =
        checkBox("installerNeedsPermission", "Driver installer needs permission", switchBox);
    auto* reset = new QPushButton("Reset touch driver", switchBox);
    reset->setObjectName("driverReset");
    p.driverState = valueLabel("driverState", switchBox);
    switchForm->addRow(p.mpcPlugged);
    switchForm->addRow("MPC display", p.mpcDisplay);
    switchForm->addRow(p.pushPlugged);
    switchForm->addRow(p.inkwellRunning);
    switchForm->addRow(p.accessibilityTrusted);
    switchForm->addRow(p.installerPermission);
    switchForm->addRow(reset);
    switchForm->addRow("Touch driver", p.driverState);

    p.status = valueLabel("status", this);
    QFont statusFont = p.status->font();
    statusFont.setBold(true);
    p.status->setFont(statusFont);
    p.log = new QPlainTextEdit(this);
    p.log->setObjectName("log");
    p.log->setReadOnly(true);
    p.log->setLineWrapMode(QPlainTextEdit::NoWrap);
    p.log->setFixedHeight(p.log->fontMetrics().lineSpacing() * int(logLines) + 12);

    // Screens over the two controllers on the left, Koala and the switches on the right, the status
    // line and the log along the bottom.
    auto* devices = new QHBoxLayout;
    devices->addWidget(p.mpcView, 2);
    devices->addWidget(p.pushView, 3);
    auto* left = new QVBoxLayout;
    left->addWidget(p.screens, 3);
    left->addLayout(devices, 2);
    auto* side = new QVBoxLayout;
    side->addWidget(koalaBox);
    side->addWidget(switchBox);
    side->addStretch(1);
    auto* top = new QHBoxLayout;
    top->addLayout(left, 1);
    auto* sideHolder = new QWidget(this);
    sideHolder->setLayout(side);
    sideHolder->setFixedWidth(360);
    top->addWidget(sideHolder);
    auto* whole = new QVBoxLayout(this);
    whole->addLayout(top, 1);
    whole->addWidget(p.status);
    whole->addWidget(p.log);

    // What the musician does to the rig. `clicked` and `activated` come from the user only, never
    // from the refresh setting a switch to the rig's state.
    SimRig& rig = mac.rig;
    connect(quit, &QPushButton::clicked, this, [&rig] {
        if (auto process = rig.koala.processIdentifier()) rig.workspace.terminate(*process);
    });
    connect(kill, &QPushButton::clicked, this, [&rig] { rig.workspace.forceQuit(TandemApp::koalaBundleID); });
    connect(p.saveDialog, &QCheckBox::clicked, this,
            [&rig](bool on) { rig.koala.options.saveDialogSeconds = on ? saveDialogSeconds : 0; });
    connect(p.refusesQuit, &QCheckBox::clicked, this,
            [&rig](bool on) { rig.koala.options.refusesQuit = on; });
    connect(p.mpcPlugged, &QCheckBox::clicked, this,
            [&rig](bool on) { on ? rig.mpc.plug() : rig.mpc.unplug(); });
    connect(p.mpcDisplay, &QComboBox::activated, this, [&rig](int index) {
        rig.placeMpcScreen(index == 1   ? SimRig::MpcScreen::leftOfMain
                           : index == 2 ? SimRig::MpcScreen::aboveMain
                                        : SimRig::MpcScreen::none);
    });
    connect(p.pushPlugged, &QCheckBox::clicked, this,
            [&rig](bool on) { on ? rig.push.plug() : rig.push.unplug(); });
    connect(p.inkwellRunning, &QCheckBox::clicked, this, [&rig](bool on) {
        if (on)
            rig.workspace.launch(TandemApp::inkwellBundleID, "Inkwell");
        else
            rig.workspace.forceQuit(TandemApp::inkwellBundleID);
    });
    connect(p.accessibilityTrusted, &QCheckBox::clicked, this,
            [&rig](bool on) { rig.accessibility.setTrusted(on); });
    connect(p.installerPermission, &QCheckBox::clicked, this, [&rig](bool on) {
        if (on)
            rig.touchDriver.setInstaller(installerNeedsPermission,
                                         "glassbridge needs Accessibility permission");
        else
            rig.touchDriver.setInstaller(0, "glassbridge installed for this user");
    });
    connect(reset, &QPushButton::clicked, this,
            [&rig] { rig.touchDriver.setAgent(SimTouchDriver::Agent::missing); });
    // Every switch shows its effect at once rather than at the next frame.
    for (QAbstractButton* button : findChildren<QAbstractButton*>())
        connect(button, &QAbstractButton::clicked, this, [this] { refreshState(); });
    connect(p.mpcDisplay, &QComboBox::activated, this, [this] { refreshState(); });

    connect(&p.frames, &QTimer::timeout, this, [this] {
        refreshState();
        parts->screens->update();
        parts->mpcView->update();
        parts->pushView->update();
    });
    connect(&p.files, &QTimer::timeout, this, [this] { refreshFiles(); });
    p.frames.start(frameMilliseconds);
    p.files.start(filesMilliseconds);
    refresh();
}

RigWindow::~RigWindow() = default;

void RigWindow::refresh() {
    refreshState();
    refreshFiles();
    parts->screens->update();
    parts->mpcView->update();
    parts->pushView->update();
}

void RigWindow::refreshState() {
    Parts& p = *parts;
    SimRig& rig = p.mac.rig;
    SimKoala& koala = rig.koala;

    if (auto process = koala.processIdentifier()) {
        setText(p.koalaRunning, "running · pid " + std::to_string(*process) +
                                    (koala.fullScreen() ? " · full screen" : " · windowed"));
    } else {
        setText(p.koalaRunning, "not running");
    }
    setText(p.koalaSettings, RigText::settings(koala.settings()));
    std::string page = koala.page();
    if (koala.mixerOpen()) page += " · mixer open";
    if (koala.keyboardOn()) page += " · keyboard on";
    setText(p.koalaPage, page);
    setText(p.koalaBank, std::string(1, char('A' + std::clamp(koala.shownBank(), 0, 3))));
    const auto played = koala.played();
    setText(p.notesTandem, RigText::notes(played, "Tandem", noteLines));
    setText(p.notesTandemPush, RigText::notes(played, "Tandem Push", noteLines));
    setText(p.driverState, RigText::driver(rig.touchDriver.agent(), rig.touchDriver.mapped()));
    setText(p.status, p.mac.app ? p.mac.app->status() : std::string());

    p.saveDialog->setChecked(koala.options.saveDialogSeconds > 0);
    p.refusesQuit->setChecked(koala.options.refusesQuit);
    p.mpcPlugged->setChecked(rig.mpc.plugged());
    p.pushPlugged->setChecked(rig.push.plugged());
    bool inkwell = false;
    for (const RunningApplication& application : rig.workspace.runningApplications())
        inkwell = inkwell ||
                  (application.bundleIdentifier == TandemApp::inkwellBundleID && !application.terminated);
    p.inkwellRunning->setChecked(inkwell);
    p.accessibilityTrusted->setChecked(rig.accessibility.isProcessTrusted(false));
    p.installerPermission->setChecked(rig.touchDriver.installerStatus() == installerNeedsPermission);
    int display = 0;
    if (auto screen = rig.mpcScreen()) display = screen->frame.minX() < 0 ? 1 : 2;
    if (p.mpcDisplay->currentIndex() != display) p.mpcDisplay->setCurrentIndex(display);
}

void RigWindow::refreshFiles() {
    Parts& p = *parts;
    setText(p.koalaProfile,
            RigText::profile(KoalaPushProfile::settingsMatch(KoalaPushProfile::Mode::mpcTouch),
                             KoalaPushProfile::settingsMatch(KoalaPushProfile::Mode::push2)));
    std::string text;
    for (const std::string& line : RigText::tail(readTail(ActivityLog::path()), logLines))
        text += line + "\n";
    // Replacing the text moves the view, so only a changed tail is put in.
    if (text != p.shownLog) {
        p.shownLog = text;
        p.log->setPlainText(QString::fromStdString(text));
        p.log->moveCursor(QTextCursor::End);
    }
}

} // namespace tandem
