#include "tandem/shell/demo/Demo.h"

#include "base/ScratchFolder.h"
#include "platform/linux/FfmpegMovieFile.h"
#include "tandem/app/SimulatedMac.h"
#include "tandem/looks/TandemCardArt.h"
#include "tandem/shell/entry/WebcamEntries.h"
#include "tandem/shell/rig/RigArt.h"

#include <QImage>
#include <QLabel>
#include <QPushButton>

#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace tandem::Demo {

namespace {

// An expected event that did not come: the demo ends there.
struct Missing : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Points HOME at a folder for the life of the object.
class HomeFolder {
public:
    explicit HomeFolder(const std::filesystem::path& home) {
        if (const char* old = std::getenv("HOME")) previous = old;
        setenv("HOME", home.c_str(), 1);
    }
    ~HomeFolder() {
        if (previous) {
            setenv("HOME", previous->c_str(), 1);
        } else {
            unsetenv("HOME");
        }
    }

private:
    std::optional<std::string> previous;
};

std::string padName(int pad) {
    return std::string(1, char('A' + pad / 16)) + std::to_string(pad % 16 + 1);
}

// One run of the simulated Mac, told as it goes.
class Narrator {
public:
    Narrator(SimulatedMac& mac, std::FILE* out)
        : mac(mac)
        , out(out) {}

    void step(const std::string& text) {
        line("step", text);
        std::fflush(out);
    }
    // Lets virtual time pass, telling every new status line and note Koala heard.
    void pass(double seconds) {
        for (double t = 0; t < seconds - 1e-9; t += 0.05) {
            mac.rig.time.advance(0.05);
            tell();
        }
    }
    // Lets time pass until `came` holds, for at most `seconds`; else the demo ends naming `event`.
    void expect(const std::string& event, const std::function<bool()>& came, double seconds = 30) {
        for (double t = 0; t < seconds; t += 0.05) {
            if (came()) {
                line("ok", event);
                return;
            }
            mac.rig.time.advance(0.05);
            tell();
        }
        if (!came()) throw Missing(event);
        line("ok", event);
    }
    // Whether Koala took the pad's command since the `since`-th command (an empty pad is heard and
    // selected, though it sounds nothing).
    bool heard(int pad, size_t since) {
        const auto commands = mac.rig.koala.commands();
        for (size_t i = since; i < commands.size(); ++i) {
            if (commands[i] == "/pads/" + padName(pad)) return true;
        }
        return false;
    }
    size_t notesSoFar() { return mac.rig.koala.commands().size(); }

private:
    void line(const char* kind, const std::string& text) {
        std::fprintf(out, "[%8.2f s] %-6s %s\n", mac.rig.time.now(), kind, text.c_str());
    }
    void tell() {
        const std::string status = mac.app->status();
        if (status != lastStatus) {
            lastStatus = status;
            line("status", status);
        }
        const auto commands = mac.rig.koala.commands();
        for (; heardCommands < commands.size(); ++heardCommands)
            line("koala", "heard " + commands[heardCommands]);
        const auto played = mac.rig.koala.played();
        for (; notes < played.size(); ++notes) {
            const auto& note = played[notes];
            line("sound", "pad " + padName(note.pad) + " (note " + std::to_string(note.note) + ", velocity " +
                              std::to_string(note.velocity) +
                              (note.source.empty() ? "" : ", from \"" + note.source + "\"") + ")");
        }
    }

    SimulatedMac& mac;
    std::FILE* out;
    std::string lastStatus;
    size_t notes = 0;
    size_t heardCommands = 0;
};

void save(const QImage& image, const std::filesystem::path& file, std::FILE* out) {
    if (image.isNull() || !image.save(QString::fromStdString(file.string()), "PNG"))
        throw Missing("the picture " + file.filename().string() + " written");
    std::fprintf(out, "             wrote  %s\n", file.string().c_str());
}

QImage pushDisplay(const std::vector<uint16_t>& pixels) {
    QImage image(960, 160, QImage::Format_RGB888);
    for (int y = 0; y < 160; ++y) {
        for (int x = 0; x < 960; ++x) {
            const uint16_t p = pixels[size_t(y) * 960 + size_t(x)];
            image.setPixel(x, y, qRgb((p & 0x1F) << 3, ((p >> 5) & 0x3F) << 2, (p >> 11) << 3));
        }
    }
    return image;
}

// Webcam… from the menu, while Koala plays on the MPC: about 5 s of virtual time recorded with pads
// struck every half second, the movie copied into `folder` as "webcam.mp4" and the window's picture
// saved as "webcam-window.png".
void webcamRun(SimulatedMac& mac, Narrator& say, WebcamEntries& webcam,
               const std::optional<std::filesystem::path>& saved, const std::filesystem::path& folder,
               std::FILE* out) {
    say.step("the musician opens Webcam… from the Tandem menu");
    if (!mac.desktop.trigger("Webcam…")) throw Missing("an enabled Webcam… entry");
    say.expect(
        "the Webcam window showing the composed picture",
        [&] {
            QtWebcamWindow* window = webcam.webcam();
            return window && window->window()->isVisible() && !window->preview()->frame().isNull();
        },
        3);
    say.pass(0.5);
    QtWebcamWindow& window = *webcam.webcam();
    if (window.problem()) std::fprintf(out, "             webcam %s\n", window.problem()->c_str());

    say.step("RECORD, then pads 1 to 10 on the MPC, one every half second");
    window.toggleRecording();
    if (!webcam.studio()->recording()) throw Missing("a recording: " + window.note()->text().toStdString());
    const double started = mac.rig.time.now();
    for (int pad = 1; pad <= 10; ++pad) {
        mac.rig.mpc.pressPad(pad);
        say.pass(0.1);
        mac.rig.mpc.releasePad(pad);
        say.pass(0.4);
    }
    std::fprintf(out, "             webcam %s after %.1f s\n", window.record()->text().toUtf8().constData(),
                 mac.rig.time.now() - started);
    say.step("STOP");
    window.toggleRecording();
    say.expect(
        "the recording saved", [&] { return saved.has_value(); }, 10);
    std::fprintf(out, "             webcam %s\n",
                 window.note()->text().split("\n\n").front().toUtf8().constData());
    std::error_code error;
    std::filesystem::copy_file(*saved, folder / "webcam.mp4",
                               std::filesystem::copy_options::overwrite_existing, error);
    if (error) throw Missing("the movie copied into " + folder.string() + ": " + error.message());
    std::fprintf(out, "             wrote  %s (%lld bytes)\n", (folder / "webcam.mp4").c_str(),
                 static_cast<long long>(std::filesystem::file_size(folder / "webcam.mp4", error)));
    save(window.window()->grab().toImage(), folder / "webcam-window.png", out);
    say.step("the Webcam window closed");
    window.window()->close();
    say.pass(0.5);
}

// The MPC Touch from nothing installed: Koala full screen on the MPC, its pads in two banks, the
// overlay's bank buttons, Chopper mode, the MPC's screen unplugged and back, a Webcam recording, Koala
// quit.
void mpcRun(const std::filesystem::path& scratch, const std::filesystem::path& folder, std::FILE* out) {
    SimulatedMac mac(scratch / "first-run");
    Narrator say(mac, out);
    // Movies encode on the rig's timeline, so a recording in virtual time keeps every frame.
    FfmpegMovieFiles::Options encoding;
    encoding.encoder = [&mac] { return mac.rig.makeQueue("Tandem movie encoder"); };
    FfmpegMovieFiles movies(encoding);
    std::optional<std::filesystem::path> saved;
    WebcamEntries webcam([&] { return WebcamEntries::simulated(mac, movies); }, mac.rig.main, mac.rig.time,
                         [&saved](const std::filesystem::path& file) { saved = file; });
    webcam.install(*mac.app);
    mac.rig.placeMpcScreen(SimRig::MpcScreen::leftOfMain);
    mac.rig.mpc.plug();
    say.step("Tandem starts on a Mac with an MPC Touch and nothing installed");
    mac.launch();
    say.expect("the choice window",
               [&] { return mac.desktop.choice() && mac.desktop.choice()->isVisible(); });
    say.step("the musician picks MPC TOUCH");
    mac.desktop.choice()->choose(ControllerPick::mpcTouch);
    say.expect(
        "a card on each screen", [&] { return mac.desktop.openCards().size() == 2; }, 1);
    const auto cards = mac.desktop.openCards();
    for (size_t i = 0; i < cards.size(); ++i) {
        const Rect& frame = cards[i]->plan.frame;
        save(TandemCardArt::render(QSize(int(frame.width), int(frame.height)), cards[i]->status),
             folder / (i == 0 ? "card-main.png" : "card-mpc.png"), out);
    }
    say.expect(
        "Koala running on the MPC Touch", [&] { return mac.app->koala().has_value(); }, 180);
    say.expect(
        "Koala full screen on the MPC display", [&] { return mac.rig.koala.fullScreen(); }, 10);
    say.pass(1);

    // The MPC's pads are numbered 1-16.
    auto tap = [&](int pad) {
        mac.rig.mpc.pressPad(pad);
        say.pass(0.1);
        mac.rig.mpc.releasePad(pad);
        say.pass(0.1);
    };
    auto bank = [&](int which) {
        mac.rig.mpc.press(uint8_t(35 + which));
        say.pass(0.1);
        mac.rig.mpc.release(uint8_t(35 + which));
        say.pass(0.4);
    };
    size_t since = say.notesSoFar();
    say.step("pads 1 and 16 in bank A");
    tap(1);
    tap(16);
    say.expect(
        "Koala heard A1 and A16", [&] { return say.heard(0, since) && say.heard(15, since); }, 2);
    say.step("bank C on the MPC, then pads 1 and 16");
    bank(2);
    since = say.notesSoFar();
    tap(1);
    tap(16);
    say.expect(
        "Koala heard C1 and C16", [&] { return say.heard(32, since) && say.heard(47, since); }, 2);
    say.expect(
        "Koala shows bank C", [&] { return mac.rig.koala.shownBank() == 2; }, 2);

    say.step("a finger on the overlay's bank B");
    SimPanel* banks = mac.rig.panels.panelWith("A");
    if (!banks) throw Missing("the overlay's bank buttons");
    banks->tap(1);
    say.expect(
        "Koala and the MPC on bank B",
        [&] {
            return mac.rig.koala.shownBank() == 1 && mac.app->mpcBridge() &&
                   mac.app->mpcBridge()->currentPadBank() == 1;
        },
        2);

    say.step("16 LEVELS on the MPC: Chopper mode on");
    mac.rig.mpc.press(40);
    say.pass(0.1);
    mac.rig.mpc.release(40);
    say.expect(
        "Chopper mode on", [&] { return mac.app->mpcBridge() && mac.app->mpcBridge()->currentChopperMode(); },
        2);

    say.step("the MPC's screen unplugged");
    const Point before = banks->origin();
    mac.rig.placeMpcScreen(SimRig::MpcScreen::none);
    say.pass(1);
    say.step("the MPC's screen plugged back in");
    mac.rig.placeMpcScreen(SimRig::MpcScreen::leftOfMain);
    say.expect(
        "the overlay back over Koala on the MPC screen",
        [&] {
            SimPanel* now = mac.rig.panels.panelWith("A");
            return now && now->isVisible() && now->origin() == before;
        },
        5);
    save(RigArt::mpcScreen(mac, QSize(1280, 800)), folder / "mpc-screen.png", out);

    webcamRun(mac, say, webcam, saved, folder, out);

    say.step("the musician quits Koala");
    mac.rig.workspace.terminate(mac.app->koala()->processIdentifier);
    say.expect(
        "Tandem ended with Koala", [&] { return mac.ended(); }, 5);
}

// The Push 2: Koala opened for it, a sample on A1 played and turned down from the Push, and Koala
// quit with Shift + User twice.
void pushRun(const std::filesystem::path& scratch, const std::filesystem::path& folder, std::FILE* out) {
    SimulatedMac mac(scratch / "second-run");
    Narrator say(mac, out);
    std::fprintf(out, "Second run, on the same Mac: its clock starts again\n");
    mac.rig.push.plug();
    say.step("Tandem starts again, with a Push 2 plugged in");
    mac.launch();
    say.step("the musician picks PUSH 2");
    mac.desktop.choice()->choose(ControllerPick::push2);
    say.expect(
        "Koala running with Push 2", [&] { return mac.app->koala().has_value(); }, 60);
    say.pass(2);

    say.step("Koala loads a sample onto A1");
    if (!mac.rig.koala.loadSample(0, SimKoalaSample::silentThenFull(44100), "Demo Take"))
        throw Missing("a sample written onto A1");
    say.pass(2);
    const size_t since = say.notesSoFar();
    say.step("A1 pressed on the Push");
    mac.rig.push.pressPad(0);
    say.pass(0.2);
    mac.rig.push.releasePad(0);
    say.expect(
        "Koala heard A1 from the Push", [&] { return say.heard(0, since); }, 2);
    say.step("VOLUME turned down on the Push");
    const double volume = mac.rig.koala.song().pads[0].vol;
    mac.rig.push.turnEncoder(0, -20);
    say.expect(
        "A1's volume lower in Koala", [&] { return mac.rig.koala.song().pads[0].vol < volume; }, 2);
    say.expect(
        "the waveform of A1 on the Push's display",
        [&] {
            auto bridge = mac.app->push();
            return bridge && bridge->lastView() && bridge->lastView()->wave;
        },
        5);
    say.pass(1);
    auto image = mac.rig.pushDisplay.lastImage();
    if (!image) throw Missing("a frame on the Push's display");
    save(pushDisplay(*image), folder / "push2-display.png", out);

    say.step("Shift + User twice on the Push");
    for (int i = 0; i < 2; ++i) {
        mac.rig.push.button(49, true);
        mac.rig.push.button(59, true);
        mac.rig.push.button(59, false);
        mac.rig.push.button(49, false);
        say.pass(0.3);
    }
    say.expect(
        "Tandem ended with Koala", [&] { return mac.ended(); }, 5);
}

} // namespace

int run(const std::filesystem::path& folder, std::FILE* out, std::FILE* err) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        std::fprintf(err, "Tandem: %s: %s\n", folder.string().c_str(), error.message().c_str());
        return 1;
    }
    ScratchFolder scratch("tandem-demo");
    if (!scratch.made()) {
        std::fprintf(err, "Tandem: %s\n", scratch.made().error().description.c_str());
        return 1;
    }
    HomeFolder home(scratch.path() / "home");
    std::fprintf(out, "Tandem demo on the simulated Mac (home folder %s)\n",
                 (scratch.path() / "home").c_str());
    try {
        mpcRun(scratch.path(), folder, out);
        pushRun(scratch.path(), folder, out);
    } catch (const Missing& missing) {
        std::fprintf(err, "Tandem: the demo stopped: expected %s\n", missing.what());
        return 1;
    }
    std::fprintf(out, "Demo OK\n");
    return 0;
}

} // namespace tandem::Demo
