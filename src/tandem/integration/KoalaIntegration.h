#pragma once

#include "base/Error.h"
#include "base/Queue.h"
#include "platform/Accessibility.h"
#include "platform/Screens.h"
#include "platform/WindowServer.h"
#include "platform/Workspace.h"
#include "tandem/profiles/KoalaPushProfile.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tandem {

// The six ways bringing Koala up can fail, each with the text the musician reads.
enum class KoalaIntegrationError {
    applicationNotInstalled,
    launchFailed,
    displayDisconnected,
    accessibilityRequired,
    windowUnavailable,
    windowPlacementFailed,
};

inline constexpr const char* koalaIntegrationErrorDomain = "Tandem.KoalaIntegration";
std::string description(KoalaIntegrationError error);
// The error as a value: domain "Tandem.KoalaIntegration", code = the case's position.
Error makeError(KoalaIntegrationError error);
// Whether an error is that case.
bool isError(const Error& error, KoalaIntegrationError which);

// The "Tandem.Profile" errors of closing and first-running Koala, codes 1-5.
Error profileError(int code);

// Remembers, for the life of the process, that Tandem already opened Koala once to let it create
// its settings. Owned by the application and shared with every integration it makes.
struct KoalaLaunchMemory {
    bool attemptedInitialLaunch = false;
};

// Brings Koala up for the chosen controller: from not running, never run, or running with the wrong
// settings, to running with settings that suit the controller, and on the MPC Touch path with its
// window full screen on the MPC's display. Main queue only; every delayed step holds the integration
// weakly, so releasing it ends the chain silently.
class KoalaIntegration : public std::enable_shared_from_this<KoalaIntegration> {
public:
    struct Services {
        Workspace& workspace;
        Screens& screens;
        WindowServer& windows;
        Accessibility& accessibility;
        std::shared_ptr<Queue> mainQueue;
        std::shared_ptr<KoalaLaunchMemory> memory;
        // Where Koala usually lives when the system does not know its location.
        std::filesystem::path fallbackLocation = "/Applications/koala.app";
    };

    static constexpr const char* bundleIdentifier = "com.elf-audio.koala-mac";
    static constexpr int positioningAttempts = 12;
    static constexpr double retryDelay = 0.35;

    static std::shared_ptr<KoalaIntegration> create(Services services);

    // Progress for the status line, on the main queue.
    std::function<void(const std::string&)> onStatus;

    // Exactly one result, on the main queue: Koala running, or the error that stopped it.
    using Completion = std::function<void(Result<RunningApplication>)>;
    void open(const Screen& screen, bool accessibilityOptional, bool placeWindow, KoalaPushProfile::Mode mode,
              Completion completion);

    // Koala's normal windows (layer 0, larger than 100 × 100), in display coordinates, front first.
    std::vector<Rect> nativeWindowFrames(int32_t processIdentifier);
    bool nativeWindowMatches(int32_t processIdentifier, Point position, Size size);
    bool nativeWindowIsOnDisplay(int32_t processIdentifier, const Rect& bounds);
    // The screen of the current list with the same display number.
    std::optional<Screen> currentScreen(const Screen& screen);

private:
    explicit KoalaIntegration(Services services);

    struct Request {
        Screen screen;
        bool accessibilityOptional;
        bool placeWindow;
        KoalaPushProfile::Mode mode;
        std::shared_ptr<Completion> completion; // cleared once called
    };

    void start(const Request& request);
    void launch(const std::filesystem::path& location, const Screen& target, const Request& request);
    void finishInitialLaunch(int32_t process, const Request& request, int attempt);
    void reopen(int32_t process, const Request& request, int attempt);
    void positionWindow(int32_t process, const Screen& screen, int attempt, const Request& request);
    void nextAttempt(int32_t process, const Screen& screen, int attempt, KoalaIntegrationError error,
                     const Request& request);
    bool isFullScreen(AXElement window);
    std::optional<Size> windowSize(AXElement window);
    bool enterFullScreen(AXElement window);
    std::optional<RunningApplication> runningKoala();
    bool terminated(int32_t process);
    void status(const std::string& text);
    void finish(const Request& request, Result<RunningApplication> result);
    void later(double seconds, std::function<void(KoalaIntegration&)> step);

    Services services;
    bool placement = true;
};

} // namespace tandem
