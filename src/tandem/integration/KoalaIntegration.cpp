#include "tandem/integration/KoalaIntegration.h"

#include "base/ActivityLog.h"
#include "base/FileSystem.h"
#include "base/Paths.h"
#include "tandem/profiles/KoalaMIDIProfile.h"

#include <algorithm>
#include <cmath>

namespace tandem {

namespace {

using Mode = KoalaPushProfile::Mode;

constexpr double settleTime = 1.0; // after asking for full screen
constexpr double tolerance = 2.0;  // points between a window frame and the display

std::string fillsText(const Rect& display) {
    return "Koala fills the MPC display at " + std::to_string(std::lround(display.width)) + " × " +
           std::to_string(std::lround(display.height)) + ".";
}

} // namespace

std::string description(KoalaIntegrationError error) {
    switch (error) {
    case KoalaIntegrationError::applicationNotInstalled:
        return "Koala was not found. Install Koala 2.0.11 or later and try again.";
    case KoalaIntegrationError::launchFailed:
        return "Koala could not be launched.";
    case KoalaIntegrationError::displayDisconnected:
        return "MPC Touch display disconnected. Reconnect it, then choose Koala again.";
    case KoalaIntegrationError::accessibilityRequired:
        return "Tandem needs Accessibility access to move Koala. Enable this app in System Settings → "
               "Privacy & "
               "Security → Accessibility, then choose Koala again.";
    case KoalaIntegrationError::windowUnavailable:
        return "Koala opened, but its window did not become available. Choose Koala again.";
    case KoalaIntegrationError::windowPlacementFailed:
        return "Koala opened, but macOS could not place it on the MPC display. Choose Koala again.";
    }
    return "";
}

Error makeError(KoalaIntegrationError error) {
    return Error{koalaIntegrationErrorDomain, static_cast<int>(error), description(error)};
}

bool isError(const Error& error, KoalaIntegrationError which) {
    return error.domain == koalaIntegrationErrorDomain && error.code == static_cast<int>(which);
}

Error profileError(int code) {
    static const char* const texts[] = {
        "Koala could not close normally. Save and quit it, then choose the controller again.",
        "Koala is still closing. Finish its save/close dialog, then choose the controller again.",
        "Finish Koala's first-time setup, quit Koala, then choose your controller again. Tandem will map it "
        "automatically.",
        "Complete Koala's first-time setup and quit it, then choose your controller again. No manual MIDI "
        "mapping is needed.",
        "Quit Koala after finishing its first-time setup, then choose your controller again.",
    };
    return Error{"Tandem.Profile", code, code >= 1 && code <= 5 ? texts[code - 1] : ""};
}

std::shared_ptr<KoalaIntegration> KoalaIntegration::create(Services services) {
    return std::shared_ptr<KoalaIntegration>(new KoalaIntegration(std::move(services)));
}

KoalaIntegration::KoalaIntegration(Services services)
    : services(std::move(services)) {
    if (!this->services.memory) this->services.memory = std::make_shared<KoalaLaunchMemory>();
}

void KoalaIntegration::status(const std::string& text) {
    if (onStatus) onStatus(text);
}

void KoalaIntegration::finish(const Request& request, Result<RunningApplication> result) {
    if (!*request.completion) return; // exactly one result
    Completion completion = std::exchange(*request.completion, nullptr);
    completion(std::move(result));
}

void KoalaIntegration::later(double seconds, std::function<void(KoalaIntegration&)> step) {
    services.mainQueue->after(seconds, [weak = weak_from_this(), step = std::move(step)] {
        if (auto self = weak.lock()) step(*self);
    });
}

std::optional<RunningApplication> KoalaIntegration::runningKoala() {
    for (const RunningApplication& application : services.workspace.runningApplications()) {
        if (application.bundleIdentifier == bundleIdentifier && !application.terminated) return application;
    }
    return std::nullopt;
}

bool KoalaIntegration::terminated(int32_t process) {
    auto application = services.workspace.application(process);
    return !application || application->terminated;
}

std::optional<Screen> KoalaIntegration::currentScreen(const Screen& screen) {
    if (!screen.number) return std::nullopt;
    for (const Screen& current : services.screens.screens()) {
        if (current.number == screen.number) return current;
    }
    return std::nullopt;
}

std::vector<Rect> KoalaIntegration::nativeWindowFrames(int32_t process) {
    std::vector<Rect> frames;
    for (const WindowInfo& window : services.windows.onScreenWindows()) {
        if (window.ownerProcessIdentifier != process || window.layer != 0 || !window.bounds) continue;
        if (window.bounds->width > 100 && window.bounds->height > 100) frames.push_back(*window.bounds);
    }
    return frames;
}

bool KoalaIntegration::nativeWindowMatches(int32_t process, Point position, Size size) {
    auto frames = nativeWindowFrames(process);
    return std::any_of(frames.begin(), frames.end(), [&](const Rect& frame) {
        return std::abs(frame.minX() - position.x) <= tolerance &&
               std::abs(frame.minY() - position.y) <= tolerance &&
               std::abs(frame.width - size.width) <= tolerance &&
               std::abs(frame.height - size.height) <= tolerance;
    });
}

bool KoalaIntegration::nativeWindowIsOnDisplay(int32_t process, const Rect& bounds) {
    auto frames = nativeWindowFrames(process);
    return std::any_of(frames.begin(), frames.end(), [&](const Rect& frame) {
        return bounds.contains({frame.midX(), frame.midY()});
    });
}

void KoalaIntegration::open(const Screen& screen, bool accessibilityOptional, bool placeWindow, Mode mode,
                            Completion completion) {
    start(Request{screen, accessibilityOptional, placeWindow, mode,
                  std::make_shared<Completion>(std::move(completion))});
}

void KoalaIntegration::start(const Request& request) {
    const bool wanted = request.placeWindow && services.accessibility.isProcessTrusted(false);
    if (!wanted && !request.accessibilityOptional) {
        finish(request, makeError(KoalaIntegrationError::accessibilityRequired));
        return;
    }
    placement = wanted;

    auto location = services.workspace.urlForApplication(bundleIdentifier);
    if (!location && FileSystem::local().exists(services.fallbackLocation))
        location = services.fallbackLocation;
    if (!location) {
        status(description(KoalaIntegrationError::applicationNotInstalled));
        finish(request, makeError(KoalaIntegrationError::applicationNotInstalled));
        return;
    }

    auto target = currentScreen(request.screen);
    if (!target) {
        finish(request, makeError(KoalaIntegrationError::displayDisconnected));
        return;
    }

    if (auto koala = runningKoala()) {
        const int32_t process = koala->processIdentifier;
        if (KoalaPushProfile::settingsMatch(request.mode)) {
            services.workspace.activate(process, activateAllWindows | activateIgnoringOtherApps);
            if (placement) {
                status("Koala is already running. Checking Accessibility access and moving its window…");
                positionWindow(process, *target, 0, request);
            } else {
                finish(request, *koala);
            }
            return;
        }
        status("Saving and reopening Koala for the selected controller's MIDI channels…");
        if (!services.workspace.terminate(process)) {
            finish(request, profileError(1));
            return;
        }
        reopen(process, request, 0);
        return;
    }

    if (!FileSystem::local().exists(Paths::koalaSettings() / "defaults.json")) {
        // Koala has never run: it must create its settings before Tandem can map them.
        if (services.memory->attemptedInitialLaunch) {
            finish(request, profileError(3));
            return;
        }
        services.memory->attemptedInitialLaunch = true;
        status("Opening Koala once to create its settings before automatic controller setup…");
        services.workspace.openApplication(*location, [weak = weak_from_this(), queue = services.mainQueue,
                                                       request](std::optional<RunningApplication> application,
                                                                std::optional<Error> error) {
            queue->async([weak, request, application, error] {
                auto self = weak.lock();
                if (!self) return;
                if (!application) {
                    self->finish(request, error ? *error : makeError(KoalaIntegrationError::launchFailed));
                    return;
                }
                self->finishInitialLaunch(application->processIdentifier, request, 0);
            });
        });
        return;
    }

    auto installed = KoalaMIDIProfile::prepare(services.workspace);
    if (!installed) {
        status(installed.error().description);
        finish(request, installed.error());
        return;
    }
    auto prepared = KoalaPushProfile::prepare(request.mode, services.workspace);
    if (!prepared) {
        ActivityLog::write("Koala's MIDI map/settings not set: " + prepared.error().description);
        // The MPC can live with a failed preparation when Koala's settings already suit it.
        if (request.mode == Mode::push2 || !KoalaPushProfile::settingsMatch(Mode::mpcTouch)) {
            finish(request, prepared.error());
            return;
        }
    }
    status("Controller mapping ready. Launching Koala…");
    launch(*location, *target, request);
}

void KoalaIntegration::launch(const std::filesystem::path& location, const Screen& target,
                              const Request& request) {
    services.workspace.openApplication(
        location, [weak = weak_from_this(), queue = services.mainQueue, target,
                   request](std::optional<RunningApplication> application, std::optional<Error> error) {
            queue->async([weak, target, request, application, error] {
                auto self = weak.lock();
                if (!self) return;
                if (application && self->placement) {
                    self->status("Koala launched. Waiting for its main window…");
                    self->positionWindow(application->processIdentifier, target, 0, request);
                } else if (application) {
                    self->status("Koala is open on the Mac display.");
                    self->finish(request, *application);
                } else {
                    Error failure = error ? *error : makeError(KoalaIntegrationError::launchFailed);
                    self->status("Couldn’t launch Koala: " + failure.description);
                    self->finish(request, failure);
                }
            });
        });
}

void KoalaIntegration::finishInitialLaunch(int32_t process, const Request& request, int attempt) {
    auto application = services.workspace.application(process);
    const bool gone = !application || application->terminated;
    const bool done = gone || (application->finishedLaunching && !nativeWindowFrames(process).empty());
    if (!done) {
        if (attempt > 99) {
            finish(request, profileError(4));
        } else {
            later(0.2, [process, request, attempt](KoalaIntegration& self) {
                self.finishInitialLaunch(process, request, attempt + 1);
            });
        }
        return;
    }
    if (!gone && !services.workspace.terminate(process)) {
        finish(request, profileError(5));
        return;
    }
    status("Preparing the selected controller's MIDI mapping…");
    reopen(process, request, 0);
}

void KoalaIntegration::reopen(int32_t process, const Request& request, int attempt) {
    if (terminated(process)) {
        start(request);
        return;
    }
    if (attempt > 49) {
        finish(request, profileError(2));
        return;
    }
    later(0.1, [process, request, attempt](KoalaIntegration& self) {
        self.reopen(process, request, attempt + 1);
    });
}

void KoalaIntegration::positionWindow(int32_t process, const Screen& screen, int attempt,
                                      const Request& request) {
    auto current = currentScreen(screen);
    if (!current) {
        finish(request, makeError(KoalaIntegrationError::displayDisconnected));
        return;
    }
    if (!services.accessibility.isProcessTrusted(false)) {
        finish(request, makeError(KoalaIntegrationError::accessibilityRequired));
        return;
    }
    const Rect display = displayRect(current->frame, services.screens.screens());
    auto succeed = [this, process, display, request] {
        status(fillsText(display));
        auto application = services.workspace.application(process);
        finish(request, application.value_or(RunningApplication{bundleIdentifier, process}));
    };
    if (nativeWindowMatches(process, display.origin(), display.size())) {
        succeed();
        return;
    }

    auto& accessibility = services.accessibility;
    auto listed = accessibility.attribute(accessibility.applicationElement(process), "AXWindows");
    const auto* list = listed ? std::get_if<std::vector<AXElement>>(&*listed) : nullptr;
    if (!list || list->empty()) {
        nextAttempt(process, screen, attempt, KoalaIntegrationError::windowUnavailable, request);
        return;
    }
    AXElement window = list->front();
    for (AXElement candidate : *list) {
        auto title = accessibility.attribute(candidate, "AXTitle");
        const auto* text = title ? std::get_if<std::string>(&*title) : nullptr;
        if (text && text->rfind("Koala", 0) == 0) {
            window = candidate;
            break;
        }
    }

    if (isFullScreen(window)) {
        // Full screen must be left before the window can move, and only when another try follows.
        if (attempt + 1 < positioningAttempts) accessibility.setAttribute(window, "AXFullScreen", false);
        nextAttempt(process, screen, attempt, KoalaIntegrationError::windowPlacementFailed, request);
        return;
    }
    const Size size = windowSize(window).value_or(Size{320, 594});
    const Point position{display.x + std::max(0.0, (display.width - size.width) / 2),
                         display.y + std::max(0.0, (display.height - size.height) / 2)};
    accessibility.setAttribute(window, "AXPosition", position);

    later(retryDelay, [process, screen, attempt, request, display, window, succeed](KoalaIntegration& self) {
        if (self.nativeWindowIsOnDisplay(process, display) && self.enterFullScreen(window)) {
            self.status("Koala is on the MPC display; entering fullscreen…");
            self.later(settleTime,
                       [process, screen, attempt, request, display, succeed](KoalaIntegration& self) {
                           if (self.nativeWindowMatches(process, display.origin(), display.size())) {
                               succeed();
                           } else {
                               self.nextAttempt(process, screen, attempt,
                                                KoalaIntegrationError::windowPlacementFailed, request);
                           }
                       });
        } else {
            self.nextAttempt(process, screen, attempt, KoalaIntegrationError::windowPlacementFailed, request);
        }
    });
}

void KoalaIntegration::nextAttempt(int32_t process, const Screen& screen, int attempt,
                                   KoalaIntegrationError error, const Request& request) {
    if (attempt + 1 >= positioningAttempts) {
        finish(request, makeError(error));
        return;
    }
    later(retryDelay, [process, screen, attempt, request](KoalaIntegration& self) {
        self.positionWindow(process, screen, attempt + 1, request);
    });
}

bool KoalaIntegration::isFullScreen(AXElement window) {
    auto value = services.accessibility.attribute(window, "AXFullScreen");
    if (!value) return false;
    if (const bool* flag = std::get_if<bool>(&*value)) return *flag;
    if (const double* number = std::get_if<double>(&*value)) return *number != 0;
    return false;
}

std::optional<Size> KoalaIntegration::windowSize(AXElement window) {
    auto value = services.accessibility.attribute(window, "AXSize");
    if (!value) return std::nullopt;
    if (const Size* size = std::get_if<Size>(&*value)) return *size;
    return std::nullopt;
}

bool KoalaIntegration::enterFullScreen(AXElement window) {
    if (services.accessibility.setAttribute(window, "AXFullScreen", true)) return true;
    auto button = services.accessibility.attribute(window, "AXFullScreenButton");
    const AXElement* element = button ? std::get_if<AXElement>(&*button) : nullptr;
    return element && services.accessibility.performAction(*element, "AXPress");
}

} // namespace tandem
