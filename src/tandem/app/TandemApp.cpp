#include "tandem/app/TandemApp.h"

#include "base/ActivityLog.h"
#include "platform/TandemIdentity.h"
#include "tandem/integration/TouchService.h"
#include "tandem/profiles/KoalaPushProfile.h"

#include <cmath>

namespace tandem {

namespace {

constexpr double watchPeriod = 2.0;
constexpr int32_t noSuchProcess = 3; // ESRCH

// A timer that fires once; destroying it before then cancels it.
std::unique_ptr<Timer> once(Queue& queue, double seconds, std::function<void()> task) {
    auto fired = std::make_shared<bool>(false);
    return queue.timer(seconds, 1e9, [fired, task = std::move(task)] {
        if (*fired) return;
        *fired = true;
        task();
    });
}

} // namespace

std::string rawValue(KoalaControllerChoice choice) {
    return choice == KoalaControllerChoice::mpcTouch ? "mpcTouch" : "push2";
}

std::shared_ptr<TandemApp> TandemApp::create(Services services) {
    return std::shared_ptr<TandemApp>(new TandemApp(std::move(services)));
}

TandemApp::TandemApp(Services services)
    : services(std::move(services))
    , disk(this->services.disk ? *this->services.disk : FileSystem::local()) {}

TandemApp::~TandemApp() = default;

std::shared_ptr<Queue> TandemApp::queue(const std::string& label) {
    auto& made = queues[label];
    if (!made) made = services.makeQueue(label);
    return made;
}

// ---- The status line ------------------------------------------------------------------------------

void TandemApp::setStatus(const std::string& text) {
    if (text != statusLine) ActivityLog::write(text);
    statusLine = text;
    services.desktop.setStatusToolTip(text);
    // Every card redraws, even for the same text.
    for (auto& card : cards)
        card->setStatus(text);
}

// ---- Launch and end -------------------------------------------------------------------------------

void TandemApp::applicationDidFinishLaunching() {
    const int32_t self = services.processes.currentProcessIdentifier();
    for (const RunningApplication& other : services.workspace.runningApplications()) {
        if (other.bundleIdentifier != tandemBundleIdentifier || other.processIdentifier == self ||
            other.terminated)
            continue;
        services.workspace.activate(other.processIdentifier, activateAllWindows | activateIgnoringOtherApps);
        terminateTandem();
        return;
    }
    services.desktop.setActivationPolicy(ActivationPolicy::regular);
    installMenu();
    ActivityLog::write("Tandem " + services.desktop.version() + " started");
    screenObserver = services.screens.observeChanges(services.main, [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->screensChanged();
    });
    chooseController();
}

void TandemApp::applicationWillTerminate() {
    retry.reset();
    watch.reset();
    if (overlay) overlay->stop();
    if (bridge) {
        bridge->setRoutingEnabled(false);
        bridge->stop();
    }
    if (pushBridge) pushBridge->stop();
    if (choiceWired) services.desktop.choiceWindow().close();
    screenObserver.reset();
    terminationObserver.reset();
    ActivityLog::write("Tandem quit");
}

void TandemApp::terminateTandem() {
    if (terminated) return;
    terminated = true;
    services.desktop.terminate();
}

void TandemApp::installMenu() {
    std::weak_ptr<TandemApp> weak = weak_from_this();
    auto action = [weak](void (TandemApp::*member)()) {
        return [weak, member] {
            if (auto self = weak.lock()) (self.get()->*member)();
        };
    };
    auto webcam = [weak](bool preview) {
        return [weak, preview] {
            auto self = weak.lock();
            if (!self) return;
            auto& open = preview ? self->openWebcamPreview : self->openWebcam;
            if (open) open();
        };
    };
    services.desktop.installMenus({
        {"Open Koala Again", "o", "o", action(&TandemApp::openAgain)},
        {"Choose Controller…", "", "", action(&TandemApp::chooseController)},
        {"Webcam…", "w", "", webcam(false), bool(openWebcam)},
        {"Webcam Preview", "", "", webcam(true), bool(openWebcamPreview)},
        {"", "", "", {}},
        {"Quit Tandem", "q", "q", action(&TandemApp::quit)},
    });
    menuInstalled = true;
}

void TandemApp::setWebcamEntries(std::function<void()> open, std::function<void()> preview) {
    openWebcam = std::move(open);
    openWebcamPreview = std::move(preview);
    if (!menuInstalled) return;
    services.desktop.setMenuEntryEnabled("Webcam…", bool(openWebcam));
    services.desktop.setMenuEntryEnabled("Webcam Preview", bool(openWebcamPreview));
}

// ---- Choosing -------------------------------------------------------------------------------------

void TandemApp::chooseController() {
    ChoiceWindow& window = services.desktop.choiceWindow();
    choiceWired = true;
    std::weak_ptr<TandemApp> weak = weak_from_this();
    window.onChoose = [weak](ControllerPick pick) {
        if (auto self = weak.lock())
            self->selectController(pick == ControllerPick::mpcTouch ? KoalaControllerChoice::mpcTouch
                                                                    : KoalaControllerChoice::push2);
    };
    window.onWebcam = [weak] {
        auto self = weak.lock();
        if (self && self->openWebcam) self->openWebcam();
    };
    window.show();
    services.desktop.activate();
}

void TandemApp::selectController(KoalaControllerChoice choice) {
    ++sessionGeneration;
    retry.reset();
    watch.reset();
    terminationObserver.reset();
    if (overlay) overlay->stop();
    overlay.reset();
    if (bridge) {
        bridge->setRoutingEnabled(false);
        bridge->stop();
        bridge.reset();
    }
    if (pushBridge) pushBridge->stop();
    pushBridge.reset();
    integration.reset();
    running.reset();
    preparing = launching = recoveryTried = false;
    closeCards();
    controllerChoice = choice;
    ActivityLog::write("Selected controller: " + rawValue(choice));
    start();
}

// ---- Starting -------------------------------------------------------------------------------------

bool TandemApp::anyAlive(const std::string& bundleIdentifier) {
    return firstAlive(bundleIdentifier).has_value();
}

std::optional<RunningApplication> TandemApp::firstAlive(const std::string& bundleIdentifier) {
    for (const RunningApplication& application : services.workspace.runningApplications()) {
        if (application.bundleIdentifier == bundleIdentifier && !application.terminated) return application;
    }
    return std::nullopt;
}

void TandemApp::start() {
    if (!controllerChoice) {
        chooseController();
        return;
    }
    if (running || preparing || launching) return;
    retry.reset();
    if (anyAlive(inkwellBundleID)) {
        showCards();
        setStatus(inkwellMessage);
        later(3.0);
        return;
    }
    if (*controllerChoice == KoalaControllerChoice::push2) {
        startPush();
        return;
    }
    const int64_t generation = sessionGeneration;
    preparing = true;
    showCards();
    setStatus("Starting the MPC Touch…");
    const std::optional<Screen> display = mpcScreen();
    const std::optional<uint32_t> number = display ? displayNumber(*display) : std::nullopt;
    TouchService::Services touch{services.processes,
                                 services.workspace,
                                 services.clock,
                                 queue("Tandem.TouchService"),
                                 services.main,
                                 services.resources,
                                 disk};
    TouchService::prepare(touch, number, !recoveryTried,
                          [weak = weak_from_this(), generation](TouchService::Result result) {
                              if (auto self = weak.lock()) self->touchServiceResult(generation, result);
                          });
}

void TandemApp::touchServiceResult(int64_t generation, const TouchService::Result& result) {
    if (generation != sessionGeneration || controllerChoice != KoalaControllerChoice::mpcTouch) return;
    if (result.recoveryAttempted) recoveryTried = true;
    setStatus(result.message);
    if (result.ready && mpcScreen()) {
        setStatus("MPC touch ready · starting its controls…");
        if (!bridge) {
            bridge = KoalaMIDIBridge::create(services.midi, services.clock, queue("Tandem.MIDIInput"),
                                             queue("Tandem.ControllerOutput"), services.main, services.feed,
                                             services.controllerTranscript, services.controllerComplaints);
        }
        // The bridge reports on the main queue already; its messages are not filtered by generation.
        bridge->onStatus = [weak = weak_from_this()](const std::string& text) {
            if (auto self = weak.lock()) self->setStatus(text);
        };
        auto ready = [weak = weak_from_this(), generation] {
            auto self = weak.lock();
            if (!self || self->sessionGeneration != generation ||
                self->controllerChoice != KoalaControllerChoice::mpcTouch)
                return;
            self->preparing = false;
            self->launchKoala();
        };
        if (auto startedBridge = bridge->start(ready); !startedBridge) {
            preparing = false;
            bridge->stop();
            bridge.reset();
            setStatus("The MPC's controls didn't start: " + startedBridge.error().description);
            later(2.0);
        }
        return;
    }
    preparing = false;
    if (mpcScreen()) {
        later(2.0);
        return;
    }
    setStatus("Waiting for the MPC Touch's screen (DisplayLink)… · " + result.message);
    later(2.0);
}

void TandemApp::launchKoala() {
    if (running || launching) return;
    const std::optional<Screen> display = mpcScreen();
    if (!display || !bridge) {
        later(2.0);
        return;
    }
    launching = true;
    const int64_t generation = sessionGeneration;
    if (!anyAlive(koalaBundleID)) bridge->prepareForKoalaLaunch();
    // Koala must not hear the MPC while it is being opened.
    bridge->setRoutingEnabled(false);
    integration = KoalaIntegration::create({services.workspace, services.screens, services.windows,
                                            services.accessibility, services.main, launchMemory,
                                            services.koalaFallback});
    integration->onStatus = [weak = weak_from_this()](const std::string& text) {
        if (auto self = weak.lock()) self->setStatus(text);
    };
    integration->open(*display, false, true, KoalaPushProfile::Mode::mpcTouch,
                      [weak = weak_from_this(), generation](Result<RunningApplication> result) {
                          auto self = weak.lock();
                          if (!self || self->sessionGeneration != generation ||
                              self->controllerChoice != KoalaControllerChoice::mpcTouch)
                              return;
                          self->launching = false;
                          auto& bridge = self->bridge;
                          if (result) {
                              if (bridge) {
                                  bridge->prepareForKoalaLaunch();
                                  bridge->setRoutingEnabled(true);
                              }
                              self->started(*result);
                              return;
                          }
                          self->integration.reset();
                          const Error error = result.error();
                          auto alive = self->firstAlive(koalaBundleID);
                          if (KoalaPushProfile::settingsMatch(KoalaPushProfile::Mode::mpcTouch) && alive) {
                              // Koala runs with the right settings, only not where it belongs: play
                              // anyway, and keep the placement's failure on the status line.
                              if (bridge) {
                                  bridge->prepareForKoalaLaunch();
                                  bridge->setRoutingEnabled(true);
                              }
                              self->started(*alive);
                              // After whatever the bridge reports on the way, so the failure is
                              // what the status line keeps.
                              self->services.main->async([weak, generation, text = error.description] {
                                  auto self = weak.lock();
                                  if (self && self->sessionGeneration == generation) self->setStatus(text);
                              });
                              return;
                          }
                          if (bridge) bridge->setRoutingEnabled(false);
                          self->setStatus(error.description);
                          if (isError(error, KoalaIntegrationError::accessibilityRequired) &&
                              !self->askedForAccessibility) {
                              self->askedForAccessibility = true;
                              self->services.accessibility.isProcessTrusted(true);
                          }
                          self->later(4.0);
                      });
}

// ---- Running --------------------------------------------------------------------------------------

void TandemApp::started(const RunningApplication& application) {
    closeCards();
    running = application;
    services.workspace.activate(application.processIdentifier,
                                activateAllWindows | activateIgnoringOtherApps);
    const std::optional<Screen> display = mpcScreen();
    if (controllerChoice == KoalaControllerChoice::mpcTouch && display && bridge) {
        auto made = TandemOverlay::create({services.workspace, services.screens, services.windows,
                                           services.accessibility, services.pointer, services.panels,
                                           services.main, services.feed});
        std::weak_ptr<KoalaMIDIBridge> weakBridge = bridge;
        std::weak_ptr<TandemOverlay> weakOverlay = made;
        made->onBankSelected = [weakBridge](int bank) {
            if (auto b = weakBridge.lock()) b->selectPadBank(bank);
        };
        made->onKeyboardToggled = [weakBridge] {
            if (auto b = weakBridge.lock()) b->keyboardToggledOnScreen();
        };
        bridge->onPadBankChanged = [weakOverlay](int bank) {
            if (auto o = weakOverlay.lock()) o->selectBank(bank);
        };
        bridge->onChopperModeChanged = [weakOverlay](bool on) {
            if (auto o = weakOverlay.lock()) o->setChopperMode(on);
        };
        if (overlay) overlay->stop();
        overlay = made;
        overlay->start(application, *display, bridge->currentPadBank(), bridge->currentChopperMode());
    }
    setStatus(controllerChoice == KoalaControllerChoice::push2 ? "Koala is running with Push 2"
                                                               : "Koala is running on the MPC Touch");
    const int32_t process = application.processIdentifier;
    terminationObserver =
        services.workspace.observe(WorkspaceNotice::didTerminate, services.main,
                                   [weak = weak_from_this(), process](const RunningApplication& ended) {
                                       auto self = weak.lock();
                                       if (self && ended.processIdentifier == process) self->koalaEnded();
                                   });
    watch = services.main->timer(watchPeriod, watchPeriod, [weak = weak_from_this(), process] {
        auto self = weak.lock();
        if (!self) return;
        auto record = self->services.workspace.application(process);
        // A process that cannot be signalled for any other reason (a permission) is still alive.
        if ((record && record->terminated) || self->services.processes.signalProbe(process) == noSuchProcess)
            self->koalaEnded();
    });
}

void TandemApp::koalaEnded() {
    if (!running) return;
    watch.reset();
    terminationObserver.reset();
    running.reset();
    if (overlay) overlay->stop();
    overlay.reset();
    if (bridge) {
        bridge->onPadBankChanged = nullptr;
        bridge->onChopperModeChanged = nullptr;
        bridge->setRoutingEnabled(false);
    }
    if (pushBridge) pushBridge->stop();
    pushBridge.reset();
    integration.reset();
    ActivityLog::write("Koala has quit");
    terminateTandem();
}

void TandemApp::quit() {
    quitting = true;
    if (!running) {
        terminateTandem();
        return;
    }
    auto record = services.workspace.application(running->processIdentifier);
    if (!record || record->terminated) {
        terminateTandem();
        return;
    }
    setStatus("Closing Koala…");
    // Accepted: Tandem ends with Koala (after Koala's own save dialog, if any). Refused: at once.
    if (!services.workspace.terminate(running->processIdentifier)) terminateTandem();
}

void TandemApp::openAgain() {
    if (!running) {
        start();
        return;
    }
    services.workspace.activate(running->processIdentifier, activateAllWindows | activateIgnoringOtherApps);
}

void TandemApp::screensChanged() {
    if (controllerChoice != KoalaControllerChoice::mpcTouch) return;
    if (running) {
        if (overlay) overlay->screenChanged(mpcScreen());
        return;
    }
    if (!preparing && !launching) start();
}

void TandemApp::later(double seconds) {
    retry = once(*services.main, seconds, [weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self) return;
        self->retry.reset();
        self->start();
    });
}

// ---- Screens and cards ----------------------------------------------------------------------------

std::optional<Screen> TandemApp::mpcScreen() {
    const std::vector<Screen> screens = services.screens.screens();
    if (screens.empty()) return std::nullopt;
    // The first screen has the menu bar and is never the MPC's.
    if (auto stored = services.defaults.string(inkwellBundleID, "launchDisplayUUID")) {
        for (size_t i = 1; i < screens.size(); ++i) {
            if (screens[i].uuid && *screens[i].uuid == *stored) return screens[i];
        }
    }
    for (size_t i = 1; i < screens.size(); ++i) {
        const Screen& screen = screens[i];
        std::string name = screen.name;
        for (char& c : name)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        const bool sized = std::trunc(screen.frame.width) == 1280 && std::trunc(screen.frame.height) == 800;
        if (name.find("mpc") != std::string::npos || sized) return screen;
    }
    return std::nullopt;
}

std::optional<uint32_t> TandemApp::displayNumber(const Screen& screen) {
    return screen.number;
}

void TandemApp::showCards() {
    if (!cards.empty()) return;
    const std::vector<Screen> screens = services.screens.screens();
    std::vector<Screen> targets;
    if (!screens.empty()) targets.push_back(screens.front());
    if (auto display = mpcScreen(); display && (targets.empty() || !(targets.front() == *display)))
        targets.push_back(*display);
    for (size_t i = 0; i < targets.size(); ++i) {
        const Screen& screen = targets[i];
        CardWindowPlan plan;
        const bool main = !screens.empty() && screen == screens.front();
        if (main) {
            const Rect& visible = screen.visibleFrame;
            plan.frame = {visible.midX() - 480, visible.midY() - 300, 960, 600};
            plan.shadow = true;
        } else {
            plan.frame = screen.frame;
        }
        plan.status = statusLine;
        cards.push_back(services.desktop.openCard(plan));
    }
    services.desktop.activate();
}

void TandemApp::closeCards() {
    for (auto& card : cards)
        card->close();
    cards.clear();
}

// ---- The Push 2 path ------------------------------------------------------------------------------

void TandemApp::startPush() {
    preparing = true;
    closeCards(); // the Push path shows no cards
    const int64_t generation = sessionGeneration;
    if (!pushBridge) {
        pushBridge = PushKoalaBridge::create(
            {services.midi, services.clock, services.usb, services.defaults, services.workspace,
             services.folders, services.main, queue("Tandem Push 2 display"), queue("Tandem.Push.Snapshots"),
             queue("Tandem.Push.Waveforms"), services.pushPreview, &disk, &services.feed, nullptr});
    }
    std::weak_ptr<TandemApp> weak = weak_from_this();
    pushBridge->onStatus = [weak, generation](const std::string& text) {
        auto self = weak.lock();
        if (self && self->sessionGeneration == generation) self->setStatus(text);
    };
    pushBridge->onChooseController = [weak] {
        if (auto self = weak.lock()) self->chooseController();
    };
    pushBridge->onQuit = [weak] {
        if (auto self = weak.lock()) self->quit();
    };
    pushBridge->onReady = [weak, generation] {
        auto self = weak.lock();
        if (!self || self->sessionGeneration != generation ||
            self->controllerChoice != KoalaControllerChoice::push2)
            return;
        self->preparing = false;
        self->launchPushKoala();
    };
    auto startedBridge = pushBridge->start();
    preparing = false;
    if (!startedBridge) {
        pushBridge->stop();
        pushBridge.reset();
        setStatus(startedBridge.error().description);
        later(3.0);
    }
}

void TandemApp::launchPushKoala() {
    if (running || launching) return;
    const std::vector<Screen> screens = services.screens.screens();
    if (screens.empty() || !pushBridge) return;
    launching = true;
    const int64_t generation = sessionGeneration;
    integration = KoalaIntegration::create({services.workspace, services.screens, services.windows,
                                            services.accessibility, services.main, launchMemory,
                                            services.koalaFallback});
    integration->onStatus = [weak = weak_from_this(), generation](const std::string& text) {
        auto self = weak.lock();
        if (self && self->sessionGeneration == generation) self->setStatus(text);
    };
    integration->open(screens.front(), true, false, KoalaPushProfile::Mode::push2,
                      [weak = weak_from_this(), generation](Result<RunningApplication> result) {
                          auto self = weak.lock();
                          if (!self || self->sessionGeneration != generation ||
                              self->controllerChoice != KoalaControllerChoice::push2)
                              return;
                          self->launching = false;
                          if (!result) {
                              // Nothing is retried: the musician picks a controller again.
                              self->setStatus(result.error().description);
                              return;
                          }
                          if (self->pushBridge) self->pushBridge->prepareForKoalaLaunch();
                          self->started(*result);
                      });
}

} // namespace tandem
