// The application on the simulated Mac, in real time, with the rig's window beside it.
#include "tandem/shell/entry/Entries.h"

#include "platform/linux/FfmpegMovieFile.h"
#include "tandem/app/SimulatedMac.h"
#include "tandem/looks/KoalaLook.h"
#include "tandem/shell/entry/WebcamEntries.h"
#include "tandem/shell/qt/KoalaPushPreviewView.h"
#include "tandem/shell/qt/QtChoiceWindow.h"
#include "tandem/shell/qt/QtDesktop.h"
#include "tandem/shell/rig/RigWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace tandem {

QIcon tandemIcon();

namespace {

// The simulated Mac's own folder: never the user's home, kept between runs.
std::filesystem::path simulatedMacFolder() {
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data)
        return std::filesystem::path(data) / "tandem" / "simulated-mac";
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home ? home : "/tmp") / ".local" / "share" / "tandem" / "simulated-mac";
}

// Virtual time follows the wall clock, never jumping more than this at once (a stalled event loop
// must not fast-forward the rig).
constexpr double longestStep = 0.1;

} // namespace

int runSimulation(int& argc, char** argv, bool fresh) {
    const std::filesystem::path folder = simulatedMacFolder();
    std::error_code error;
    if (fresh) std::filesystem::remove_all(folder, error);
    std::filesystem::create_directories(folder / "home", error);
    if (error) {
        std::fprintf(stderr, "Tandem: %s: %s\n", folder.string().c_str(), error.message().c_str());
        return 1;
    }
    setenv("HOME", (folder / "home").c_str(), 1);
    std::printf("Tandem on the simulated Mac; its home folder is %s%s\n", (folder / "home").c_str(),
                fresh ? " (emptied)" : "");
    std::fflush(stdout);

    QApplication qt(argc, argv);
    QApplication::setApplicationName("Tandem");
    QApplication::setApplicationVersion(TANDEM_VERSION);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(tandemIcon());

    std::unique_ptr<SimulatedMac> mac;
    // The real menus and choice window; the cards belong to the simulated screens, where the rig's
    // window draws them.
    QtDesktop desktop(
        tandemIcon(), [&mac](const CardWindowPlan& plan) { return mac->desktop.openCard(plan); },
        [] { return std::make_unique<QtChoiceWindow>(); });
    QtPushPreview preview;
    mac = std::make_unique<SimulatedMac>(folder / "rig", nullptr, &preview, &desktop);
    desktop.onWillTerminate = [&mac] { mac->applicationEnded(); };
    KoalaLook::useKoalaAt(mac->rig.koala.location());
    // The Webcam records real movies of the rig into the simulated home's Movies folder.
    FfmpegMovieFiles movies;
    auto webcam = std::make_unique<WebcamEntries>([&] { return WebcamEntries::simulated(*mac, movies); },
                                                  mac->rig.main, mac->rig.time);
    webcam->install(*mac->app);

    // Both controllers at hand: the MPC Touch with its screen left of the Mac's, and the Push 2.
    mac->rig.placeMpcScreen(SimRig::MpcScreen::leftOfMain);
    mac->rig.mpc.plug();
    mac->rig.push.plug();

    auto window = std::make_unique<RigWindow>(*mac);
    window->show();

    QElapsedTimer wall;
    wall.start();
    QTimer pace;
    pace.setTimerType(Qt::PreciseTimer);
    QObject::connect(&pace, &QTimer::timeout, [&] {
        const double elapsed = double(wall.nsecsElapsed()) * 1e-9;
        wall.restart();
        mac->rig.time.advance(std::min(elapsed, longestStep));
    });
    pace.start(10);
    QTimer::singleShot(0, [&] { mac->launch(); });

    const int status = QApplication::exec();
    pace.stop();
    window.reset();
    webcam.reset(); // finishes a recording while the rig still runs
    mac->rig.time.advance(0.1);
    mac.reset(); // while the desktop it uses is still there
    return status;
}

} // namespace tandem
