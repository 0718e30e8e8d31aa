#include "platform/sim/SimKoala.h"

#include "base/FileSystem.h"
#include "base/Paths.h"

#include <cmath>

namespace tandem {

namespace {

// Koala's own buttons as fractions of its window (measured on 1280 × 800), and how close a click must
// come to count.
constexpr double bankFractions[] = {579.0 / 1280, 616.0 / 1280, 653.0 / 1280, 690.0 / 1280};
constexpr double mixerFraction = 1036.0 / 1280;
constexpr double buttonRow = 769.0 / 800;
constexpr double reach = 10;

struct Tab {
    double from, to;
    const char* page;
};
constexpr Tab tabs[] = {{0.255, 0.383, "sample"},
                        {0.383, 0.533, "sequence"},
                        {0.533, 0.675, "perform"},
                        {0.675, 0.76, "settings"}};

const char* firstRunSettings = R"({
  "audioOutput": "Built-in Output",
  "builtInMidiMappingsEnabled": true,
  "keyboardMidiChannel": 1,
  "midiInputChannel": 1,
  "midiNoteOffset": 48,
  "useMidiMapping": false
}
)";

} // namespace

SimKoala::SimKoala(SimWorkspace& workspace, SimWindowServer& windows, SimAccessibility& accessibility,
                   SimScreens& screens, SimPointer& pointer, std::shared_ptr<Queue> queue)
    : workspace(workspace)
    , windows(windows)
    , accessibility(accessibility)
    , screens(screens)
    , pointer(pointer)
    , queue(std::move(queue)) {
    workspace.install(*this);
    sink = pointer.addSink([this](const PointerEvent& event) { clicked(event); });
}

SimKoala::~SimKoala() {
    pointer.removeSink(sink);
    if (auto running = processIdentifier()) {
        accessibility.detach(*running);
        windows.removeAll(*running);
    }
}

std::optional<int32_t> SimKoala::processIdentifier() {
    std::lock_guard guard(lock);
    return process;
}

bool SimKoala::running() {
    return processIdentifier().has_value();
}

std::optional<Rect> SimKoala::windowBounds() {
    std::lock_guard guard(lock);
    if (!process) return std::nullopt;
    return windows.bounds(mainNumber);
}

bool SimKoala::fullScreen() {
    std::lock_guard guard(lock);
    return isFullScreen;
}

int SimKoala::launches() {
    std::lock_guard guard(lock);
    return launchCount;
}

int SimKoala::quitRequests() {
    std::lock_guard guard(lock);
    return quitCount;
}

int SimKoala::shownBank() {
    std::lock_guard guard(lock);
    return bank;
}

bool SimKoala::mixerOpen() {
    std::lock_guard guard(lock);
    return mixer;
}

std::string SimKoala::page() {
    std::lock_guard guard(lock);
    return currentPage;
}

bool SimKoala::keyboardOn() {
    std::lock_guard guard(lock);
    return keyboard;
}

std::vector<SimKoala::Click> SimKoala::clicks() {
    std::lock_guard guard(lock);
    return clickLog;
}

std::vector<Point> SimKoala::positionRequests() {
    std::lock_guard guard(lock);
    return positions;
}

void SimKoala::launched(int32_t processIdentifier) {
    {
        std::lock_guard guard(lock);
        process = processIdentifier;
        ++launchCount;
        ++run;
        isFullScreen = transitioning = false;
    }
    // Koala's first run creates its settings; Tandem waits for exactly this.
    FileSystem& disk = FileSystem::local();
    const auto settings = Paths::koalaSettings() / "defaults.json";
    if (options.writesSettingsOnFirstRun && !disk.exists(settings)) {
        (void)disk.createDirectories(settings.parent_path());
        (void)disk.writeFile(settings, firstRunSettings);
    }
    accessibility.attach(processIdentifier, this);
    uint64_t current = run;
    queue->after(options.windowDelay, [this, processIdentifier, current] {
        std::lock_guard guard(lock);
        if (run == current && process == processIdentifier) openWindows(processIdentifier);
    });
}

void SimKoala::openWindows(int32_t owner) {
    Rect main = screens.screens().empty() ? Rect{0, 0, 1440, 900}
                                          : displayRect(screens.screens().front().frame, screens.screens());
    const Size size = options.windowSize;
    Rect bounds{main.x + (main.width - size.width) / 2, main.y + (main.height - size.height) / 2, size.width,
                size.height};
    menuNumber = windows.add(owner, {main.maxX() - 300, main.y, 24, 22}, 25); // a status item: not layer 0
    smallNumber = windows.add(owner, {bounds.x + 20, bounds.y + 20, 90, 60}); // too small to be the window
    mainNumber = windows.add(owner, bounds);
}

bool SimKoala::quitRequested(int32_t processIdentifier) {
    std::lock_guard guard(lock);
    ++quitCount;
    if (options.refusesQuit || process != processIdentifier) return false;
    queue->after(options.saveDialogSeconds + options.quitDelay,
                 [this, processIdentifier] { workspace.exit(processIdentifier); });
    return true;
}

void SimKoala::activated(int32_t processIdentifier) {
    windows.bringToFront(processIdentifier);
}

void SimKoala::exited(int32_t processIdentifier) {
    std::lock_guard guard(lock);
    if (process != processIdentifier) return;
    accessibility.detach(processIdentifier);
    windows.removeAll(processIdentifier);
    process.reset();
    ++run;
    isFullScreen = transitioning = false;
    mainNumber = smallNumber = menuNumber = 0;
}

std::optional<AXValue> SimKoala::attribute(uint32_t element, const std::string& name) {
    std::lock_guard guard(lock);
    if (!process) return std::nullopt;
    if (element == 0) {
        if (name != "AXWindows" || options.windowsUnreadable) return std::nullopt;
        if (options.windowsMistyped) return AXValue(std::string("Koala Sampler"));
        if (!mainNumber) return AXValue(std::vector<AXElement>{});
        // The small window comes first: the title decides, not the order.
        return AXValue(std::vector<AXElement>{SimAccessibility::element(*process, smallWindow),
                                              SimAccessibility::element(*process, mainWindow)});
    }
    if (element != mainWindow && element != smallWindow) return std::nullopt;
    auto bounds = windows.bounds(element == mainWindow ? mainNumber : smallNumber);
    if (!bounds) return std::nullopt;
    if (name == "AXTitle") return AXValue(std::string(element == mainWindow ? "Koala Sampler" : ""));
    if (name == "AXPosition") return AXValue(bounds->origin());
    if (name == "AXSize") {
        if (options.sizeUnreadable) return std::nullopt;
        if (options.sizeMistyped) return AXValue(bounds->origin());
        return AXValue(bounds->size());
    }
    if (element != mainWindow) return std::nullopt;
    if (name == "AXFullScreen") return AXValue(isFullScreen);
    if (name == "AXFullScreenButton") return AXValue(SimAccessibility::element(*process, fullScreenButton));
    return std::nullopt;
}

bool SimKoala::setAttribute(uint32_t element, const std::string& name, const AXValue& value) {
    std::lock_guard guard(lock);
    if (!process || element != mainWindow || !mainNumber) return false;
    if (name == "AXPosition") {
        const Point* point = std::get_if<Point>(&value);
        if (point) positions.push_back(*point);
        // A full-screen window stays where it is, as on the Mac.
        if (!point || options.refusesMove || isFullScreen || transitioning) return false;
        auto bounds = windows.bounds(mainNumber);
        windows.setBounds(mainNumber, {point->x, point->y, bounds->width, bounds->height});
        return true;
    }
    if (name == "AXFullScreen") {
        const bool* on = std::get_if<bool>(&value);
        if (!on || options.rejectsFullScreenAttribute) return false;
        if (*on != isFullScreen && !transitioning) beginFullScreen(*on);
        return true;
    }
    return false;
}

bool SimKoala::performAction(uint32_t element, const std::string& action) {
    std::lock_guard guard(lock);
    if (!process || element != fullScreenButton || action != "AXPress" || transitioning) return false;
    beginFullScreen(!isFullScreen);
    return true;
}

void SimKoala::beginFullScreen(bool enter) {
    transitioning = true;
    uint64_t current = run;
    queue->after(options.fullScreenTransition, [this, enter, current] {
        std::lock_guard guard(lock);
        if (run != current || !mainNumber) return;
        transitioning = false;
        auto bounds = windows.bounds(mainNumber);
        if (enter) {
            savedBounds = *bounds;
            // The screen under the window's centre takes it whole.
            const auto list = screens.screens();
            Rect target = list.empty() ? *bounds : displayRect(list.front().frame, list);
            for (const Screen& screen : list) {
                Rect rect = displayRect(screen.frame, list);
                if (rect.contains({bounds->midX(), bounds->midY()})) target = rect;
            }
            windows.setBounds(mainNumber, target);
        } else {
            windows.setBounds(mainNumber, savedBounds);
        }
        isFullScreen = enter;
    });
}

void SimKoala::clicked(const PointerEvent& event) {
    std::lock_guard guard(lock);
    if (event.type != PointerEventType::leftMouseUp || !process || !mainNumber) return;
    auto bounds = windows.bounds(mainNumber);
    if (!bounds || !bounds->contains(event.location)) return;
    const double fx = (event.location.x - bounds->x) / bounds->width;
    const double fy = (event.location.y - bounds->y) / bounds->height;
    Click click{event.location, ""};
    const double rowY = bounds->y + buttonRow * bounds->height;
    if (std::abs(event.location.y - rowY) <= reach) {
        for (int i = 0; i < 4; ++i) {
            if (std::abs(event.location.x - (bounds->x + bankFractions[i] * bounds->width)) <= reach) {
                bank = i;
                click.hit = std::string("bank ") + char('A' + i);
            }
        }
        if (std::abs(event.location.x - (bounds->x + mixerFraction * bounds->width)) <= reach) {
            mixer = !mixer;
            click.hit = "mixer";
        }
    } else if (fy < 0.13) {
        for (const Tab& tab : tabs) {
            if (fx >= tab.from && fx < tab.to) {
                currentPage = tab.page;
                click.hit = std::string("tab ") + tab.page;
            }
        }
    } else if (currentPage == "sequence" && fx >= 0.265 && fx < 0.343 && fy >= 0.465 && fy < 0.523) {
        keyboard = !keyboard;
        click.hit = "keyboard";
    }
    clickLog.push_back(click);
}

} // namespace tandem
