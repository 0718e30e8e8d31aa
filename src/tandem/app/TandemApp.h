#pragma once

#include "base/Clock.h"
#include "base/FileSystem.h"
#include "base/Queue.h"
#include "platform/Accessibility.h"
#include "platform/Defaults.h"
#include "platform/Desktop.h"
#include "platform/FolderWatcher.h"
#include "platform/Midi.h"
#include "platform/Panels.h"
#include "platform/Pointer.h"
#include "platform/Processes.h"
#include "platform/Screens.h"
#include "platform/Usb.h"
#include "platform/WindowServer.h"
#include "platform/Workspace.h"
#include "tandem/audio/KoalaPerformanceFeed.h"
#include "tandem/integration/KoalaIntegration.h"
#include "tandem/integration/TandemOverlay.h"
#include "tandem/integration/TouchService.h"
#include "tandem/mpc/KoalaMIDIBridge.h"
#include "tandem/push/PushKoalaBridge.h"

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tandem {

enum class KoalaControllerChoice { mpcTouch, push2 };
// "mpcTouch" or "push2".
std::string rawValue(KoalaControllerChoice choice);

// The application: the one active selection (which controller, the objects serving it, Koala's
// launcher, the overlay, Koala itself), its start-up paths with their retries, Koala watched once it
// runs, and Tandem's end with Koala's. Everything the musician is told goes through one status line:
// the status item's tool tip, the cards and the log. Main queue only.
class TandemApp : public std::enable_shared_from_this<TandemApp> {
public:
    struct Services {
        Desktop& desktop;
        Workspace& workspace;
        Screens& screens;
        WindowServer& windows;
        Accessibility& accessibility;
        Pointer& pointer;
        Panels& panels;
        Processes& processes;
        Defaults& defaults;
        MidiSystem& midi;
        UsbHost& usb;
        FolderWatcher& folders;
        Clock& clock;
        KoalaPerformanceFeed& feed;
        std::shared_ptr<Queue> main;
        // Makes the named serial queues the subsystems own ("Tandem.MIDIInput", …).
        std::function<std::shared_ptr<Queue>(const std::string& label)> makeQueue;
        // Tandem's resources (the touch driver and its installer).
        std::filesystem::path resources;
        // The Push bridge's preview window; none: no window.
        PushPreview* pushPreview = nullptr;
        FileSystem* disk = nullptr; // none: the local disk
        // Where Koala lives when the workspace does not know.
        std::filesystem::path koalaFallback = "/Applications/koala.app";
        // Where the MPC's controller set-up writes its transcript and complaints.
        std::FILE* controllerTranscript = stdout;
        std::FILE* controllerComplaints = stderr;
    };

    static constexpr const char* koalaBundleID = "com.elf-audio.koala-mac";
    static constexpr const char* inkwellBundleID = "com.quillon.inkwell";
    static constexpr const char* inkwellMessage =
        "Inkwell is using the MPC Touch. Quit Inkwell, and Tandem carries on by itself.";

    static std::shared_ptr<TandemApp> create(Services services);
    ~TandemApp();

    // The Webcam window's entries, once the application has one; until then its menu entries are
    // disabled and the choice window's WEBCAM SETUP does nothing.
    std::function<void()> openWebcam;
    std::function<void()> openWebcamPreview;
    // Sets both entries and enables or disables their menu entries to match, also once the menus are
    // up (assigning the members only counts before launching).
    void setWebcamEntries(std::function<void()> open, std::function<void()> preview);

    // Application delegate.
    void applicationDidFinishLaunching();
    static bool applicationShouldTerminateAfterLastWindowClosed() { return false; }
    void applicationWillTerminate();

    // Menu actions.
    void openAgain();
    void chooseController();
    void quit();

    void selectController(KoalaControllerChoice choice);
    void screensChanged();

    // State, for the shell, the rig and tests.
    const std::string& status() const { return statusLine; }
    std::optional<KoalaControllerChoice> choice() const { return controllerChoice; }
    const std::optional<RunningApplication>& koala() const { return running; }
    bool isPreparing() const { return preparing; }
    bool isLaunching() const { return launching; }
    bool hasRetryPending() const { return retry != nullptr; }
    size_t cardCount() const { return cards.size(); }
    std::shared_ptr<KoalaMIDIBridge> mpcBridge() const { return bridge; }
    std::shared_ptr<PushKoalaBridge> push() const { return pushBridge; }
    std::shared_ptr<TandemOverlay> touchOverlay() const { return overlay; }
    int64_t generation() const { return sessionGeneration; }
    // Tandem has asked to end (another copy runs, Koala ended, Quit).
    bool isTerminating() const { return terminated; }

    // The MPC Touch's display among the screens, and a screen's display number.
    std::optional<Screen> mpcScreen();
    static std::optional<uint32_t> displayNumber(const Screen& screen);

private:
    explicit TandemApp(Services services);

    void setStatus(const std::string& text);
    void installMenu();
    void start();
    void touchServiceResult(int64_t generation, const TouchService::Result& result);
    void launchKoala();
    void started(const RunningApplication& application);
    void koalaEnded();
    void showCards();
    void closeCards();
    void later(double seconds);
    void startPush();
    void launchPushKoala();
    bool anyAlive(const std::string& bundleIdentifier);
    std::optional<RunningApplication> firstAlive(const std::string& bundleIdentifier);
    void terminateTandem();
    std::shared_ptr<Queue> queue(const std::string& label);

    Services services;
    FileSystem& disk;
    std::shared_ptr<KoalaLaunchMemory> launchMemory = std::make_shared<KoalaLaunchMemory>();
    std::map<std::string, std::shared_ptr<Queue>> queues;

    std::vector<std::unique_ptr<CardWindow>> cards;
    std::shared_ptr<KoalaMIDIBridge> bridge;
    std::shared_ptr<PushKoalaBridge> pushBridge;
    bool choiceWired = false;
    bool menuInstalled = false;
    std::optional<KoalaControllerChoice> controllerChoice;
    int64_t sessionGeneration = 0;
    std::shared_ptr<KoalaIntegration> integration;
    std::shared_ptr<TandemOverlay> overlay;
    std::optional<RunningApplication> running;
    std::unique_ptr<Timer> retry;
    std::unique_ptr<Timer> watch;
    bool preparing = false;
    bool launching = false;
    bool recoveryTried = false;
    bool quitting = false;
    ObservationToken terminationObserver;
    ObservationToken screenObserver;
    std::string statusLine = "Starting…";
    bool askedForAccessibility = false;
    bool terminated = false;
};

} // namespace tandem
