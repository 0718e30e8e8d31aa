#pragma once

#include "platform/sim/SimAccessibility.h"
#include "platform/sim/SimPointer.h"
#include "platform/sim/SimScreens.h"
#include "platform/sim/SimWindowServer.h"
#include "platform/sim/SimWorkspace.h"

#include <mutex>
#include <string>
#include <vector>

namespace tandem {

// The simulated Koala, as an application: it launches after a delay, writes its settings on its first
// run, opens its "Koala Sampler" window (and two small ones the window list must filter), moves and
// goes full screen through Accessibility, and reacts to clicks on its bank, mixer, tab and keyboard
// buttons so that a test sees where a forwarded click landed. Misbehaviour on demand. Its calls
// arrive on the rig's queues; everything here is single-threaded in virtual time.
class SimKoala final : public SimApplication, public SimAccessible {
public:
    // Accessibility elements of the application.
    static constexpr uint32_t mainWindow = 1, smallWindow = 2, fullScreenButton = 3;

    struct Options {
        std::filesystem::path location = "/Applications/koala.app";
        double launchDelay = 1.0; // opened → finished launching
        double windowDelay = 0.3; // finished launching → windows on screen
        double quitDelay = 0.2;   // accepted quit → gone
        double fullScreenTransition = 0.5;
        Size windowSize{1100, 720}; // placed centred on the main screen
        bool writesSettingsOnFirstRun = true;
        bool refusesQuit = false;
        double saveDialogSeconds = 0; // an accepted quit waits this long in a save dialog first
        bool refusesMove = false;
        bool rejectsFullScreenAttribute = false; // only its full-screen button works
        bool windowsUnreadable = false;          // "AXWindows" cannot be read
        bool windowsMistyped = false;            // "AXWindows" is not a list of elements
        bool sizeUnreadable = false;             // "AXSize" cannot be read
        bool sizeMistyped = false;               // "AXSize" is not a size
    };

    SimKoala(SimWorkspace& workspace, SimWindowServer& windows, SimAccessibility& accessibility,
             SimScreens& screens, SimPointer& pointer, std::shared_ptr<Queue> queue);
    ~SimKoala() override;

    Options options;

    // State for tests.
    std::optional<int32_t> processIdentifier();
    bool running();
    std::optional<Rect> windowBounds(); // the main window, display coordinates
    bool fullScreen();
    int launches();
    int quitRequests();
    int shownBank(); // 0-3, the bank its pad page shows
    bool mixerOpen();
    std::string page(); // "sample", "sequence", "perform" or "settings"
    bool keyboardOn();
    struct Click {
        Point at;
        std::string hit; // "bank A" … "bank D", "mixer", "tab sample" …, "keyboard", or ""
        bool operator==(const Click&) const = default;
    };
    std::vector<Click> clicks();
    // Every "AXPosition" asked of its main window, taken or not.
    std::vector<Point> positionRequests();

    // SimApplication
    std::string bundleIdentifier() const override { return "com.elf-audio.koala-mac"; }
    std::string name() const override { return "Koala"; }
    std::filesystem::path location() const override { return options.location; }
    double launchDelay() const override { return options.launchDelay; }
    void launched(int32_t processIdentifier) override;
    bool quitRequested(int32_t processIdentifier) override;
    void activated(int32_t processIdentifier) override;
    void exited(int32_t processIdentifier) override;

    // SimAccessible
    std::optional<AXValue> attribute(uint32_t element, const std::string& name) override;
    bool setAttribute(uint32_t element, const std::string& name, const AXValue& value) override;
    bool performAction(uint32_t element, const std::string& action) override;

private:
    void openWindows(int32_t process);
    void beginFullScreen(bool enter);
    void clicked(const PointerEvent& event);

    SimWorkspace& workspace;
    SimWindowServer& windows;
    SimAccessibility& accessibility;
    SimScreens& screens;
    SimPointer& pointer;
    std::shared_ptr<Queue> queue;
    int sink = 0;

    std::recursive_mutex lock;
    std::optional<int32_t> process;
    uint64_t run = 0; // guards delayed steps of an earlier run
    uint32_t mainNumber = 0, smallNumber = 0, menuNumber = 0;
    bool isFullScreen = false;
    bool transitioning = false;
    Rect savedBounds;
    int launchCount = 0;
    int quitCount = 0;
    int bank = 0;
    bool mixer = false;
    std::string currentPage = "sample";
    bool keyboard = false;
    std::vector<Click> clickLog;
    std::vector<Point> positions;
};

} // namespace tandem
