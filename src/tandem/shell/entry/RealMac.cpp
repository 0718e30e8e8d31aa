// The application on Linux's own services, standing in for the Mac's.
#include "tandem/shell/entry/Entries.h"

#include "base/Clock.h"
#include "base/Paths.h"
#include "base/ThreadQueue.h"
#include "platform/TandemIdentity.h"
#include "platform/linux/AlsaMidiSystem.h"
#include "platform/linux/FfmpegMedia.h"
#include "platform/linux/FfmpegMovieFile.h"
#include "platform/linux/InotifyFolderWatcher.h"
#include "platform/linux/JsonFileDefaults.h"
#include "platform/linux/LibUsbHost.h"
#include "platform/linux/LinuxProcesses.h"
#include "platform/linux/LinuxWorkspace.h"
#include "platform/linux/PulseAudio.h"
#include "platform/linux/X11Accessibility.h"
#include "platform/linux/X11Pointer.h"
#include "platform/linux/X11WindowServer.h"
#include "platform/qt/QtInstanceChannel.h"
#include "platform/qt/QtMainQueue.h"
#include "platform/qt/QtScreens.h"
#include "tandem/app/TandemApp.h"
#include "tandem/looks/KoalaLook.h"
#include "tandem/looks/TandemArtwork.h"
#include "tandem/shell/entry/WebcamEntries.h"
#include "tandem/shell/qt/KoalaPushPreviewView.h"
#include "tandem/shell/qt/QtCardWindow.h"
#include "tandem/shell/qt/QtChoiceWindow.h"
#include "tandem/shell/qt/QtDesktop.h"
#include "tandem/shell/qt/QtPanels.h"

#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <QTimer>

#include <cstdio>

namespace tandem {

QIcon tandemIcon() {
    QIcon icon;
    for (int pixels : {16, 32, 64, 128, 256, 512})
        icon.addPixmap(QPixmap::fromImage(TandemArtwork::icon(pixels)));
    return icon;
}

// How long an ending Tandem waits for a recording to be written out: a long 1080p take's index is
// rewritten to the front of its file, a few seconds at most.
constexpr double recordingGraceSeconds = 20;

int runApplication(int& argc, char** argv) {
    QApplication qt(argc, argv);
    QApplication::setApplicationName("Tandem");
    QApplication::setApplicationVersion(TANDEM_VERSION);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(tandemIcon());

    auto main = std::make_shared<QtMainQueue>("main");
    SystemClock clock;
    // A running Tandem answers for Tandem's identifier through its channel; --self-check, the render
    // jobs and test programs never listen, so they never count.
    QtInstanceChannel instance(tandemBundleIdentifier, "Tandem");
    LinuxWorkspace workspace;
    workspace.answerFor(
        tandemBundleIdentifier, [&instance] { return instance.find(); },
        [&instance](int32_t process, unsigned) { return instance.activate(process); });
    if (auto koala = workspace.urlForApplication(TandemApp::koalaBundleID)) KoalaLook::useKoalaAt(*koala);

    QtScreens screens;
    X11WindowServer windows;
    X11Accessibility accessibility;
    X11Pointer pointer;
    QtPanels panels;
    LinuxProcesses processes;
    JsonFileDefaults defaults;
    AlsaMidiSystem midi;
    LibUsbHost usb;
    InotifyFolderWatcher folders;
    QtPushPreview preview;
    QtDesktop desktop(
        tandemIcon(), [](const CardWindowPlan& plan) { return std::make_unique<QtCardWindow>(plan); },
        [] { return std::make_unique<QtChoiceWindow>(); });

    auto app =
        TandemApp::create({desktop, workspace, screens, windows, accessibility, pointer, panels, processes,
                           defaults, midi, usb, folders, clock, KoalaPerformanceFeed::shared(), main,
                           [](const std::string& label) { return std::make_shared<ThreadQueue>(label); },
                           Paths::resources(), &preview});

    // The Webcam on this machine's devices: cameras, Koala's window and sound, microphones and
    // outputs as Linux has them, movies through FFmpeg.
    FfmpegCameras cameras;
    X11GrabCapture screenCapture;
    PulseAudioTaps audioTaps;
    PulseMicrophones microphones;
    PulseAudioOutputs audioOutputs;
    LinuxMediaPermissions permissions;
    FfmpegMovieFiles movies;
    auto makeStudio = [&] {
        auto queue = [](const char* label) { return std::make_shared<ThreadQueue>(label); };
        auto studio = WebcamStudio::make(WebcamStudio::World{clock,
                                                             defaults,
                                                             workspace,
                                                             windows,
                                                             screens,
                                                             pointer,
                                                             cameras,
                                                             screenCapture,
                                                             audioTaps,
                                                             microphones,
                                                             audioOutputs,
                                                             permissions,
                                                             movies,
                                                             KoalaPerformanceFeed::shared(),
                                                             main,
                                                             queue("Tandem webcam"),
                                                             queue("Tandem webcam setup"),
                                                             queue("Tandem camera"),
                                                             queue("Tandem screen capture"),
                                                             queue("Tandem audio input"),
                                                             queue("Tandem webcam pads"),
                                                             nullptr,
                                                             true,
                                                             std::nullopt});
        return std::make_shared<StudioWebcamControl>(studio, cameras, microphones, audioOutputs,
                                                     KoalaPerformanceFeed::shared());
    };
    WebcamEntries webcam(makeStudio, main, clock);
    webcam.install(*app);

    desktop.onWillTerminate = [app, &webcam] {
        // A recording in progress is finished, so its file is kept; the process waits while its movie
        // writes the index, or the file would be cut off unplayable.
        webcam.close();
        if (!webcam.waitForRecordings(recordingGraceSeconds))
            std::fprintf(stderr, "Tandem: a recording was still being written when Tandem ended\n");
        app->applicationWillTerminate();
    };
    // Claimed before looking: when another copy holds the name, the workspace lists that one, and
    // this one wakes it and ends.
    instance.listen([&desktop] { desktop.activate(); });
    QTimer::singleShot(0, [&] { app->applicationDidFinishLaunching(); });
    const int status = QApplication::exec();
    main->stop();
    return status;
}

} // namespace tandem
