#include "tandem/integration/TandemOverlay.h"

#include "base/ActivityLog.h"

#include <cmath>

namespace tandem {

namespace {

// Koala's own buttons as fractions of its full-screen window, measured on 1280 × 800.
constexpr double bankFractions[] = {579.0 / 1280, 616.0 / 1280, 653.0 / 1280, 690.0 / 1280};
constexpr double mixerFraction = 0.809375;
constexpr double rowFraction = 0.96125;

// Timings of a forwarded click and of the follow-ups.
constexpr double fingerPoll = 0.02;
constexpr int fingerPolls = 30;
constexpr double pressDelay = 0.045;
constexpr double releaseDelay = 0.045;
constexpr double settleDelay = 0.04;
constexpr double followUp = 0.15;
constexpr double windowTolerance = 3.0;
constexpr double pointerTolerance = 2.0;

constexpr const char* bankTitles[] = {"A", "B", "C", "D"};

} // namespace

const char* TandemOverlay::name(Page page) {
    switch (page) {
    case Page::sample:
        return "sample";
    case Page::sequence:
        return "sequence";
    case Page::perform:
        return "perform";
    }
    return "";
}

PointerPoint TandemOverlay::target(const Rect& frame, const Press& press) {
    double fraction = press.kind == Press::Kind::mixer ? mixerFraction
                                                       : bankFractions[press.bank < 0   ? 0
                                                                       : press.bank > 3 ? 3
                                                                                        : press.bank];
    return {frame.x + fraction * frame.width, frame.y + rowFraction * frame.height};
}

std::optional<std::vector<PointerEvent>> TandemOverlay::clickEvents(Pointer& pointer, PointerPoint point) {
    std::vector<PointerEvent> events;
    for (PointerEventType type :
         {PointerEventType::mouseMoved, PointerEventType::leftMouseDown, PointerEventType::leftMouseUp}) {
        auto event = pointer.makeMouseEvent(type, point);
        if (!event) return std::nullopt;
        event->flags = 0;
        event->clickState = 1;
        event->userData = eventMarker;
        events.push_back(*event);
    }
    return events;
}

bool TandemOverlay::offlineSelfCheck(Pointer& pointer) {
    const Rect frame{-1280, 0, 1280, 800};
    const PointerPoint expected[] = {{-701, 769}, {-664, 769}, {-627, 769}, {-590, 769}, {-244, 769}};
    auto near = [](PointerPoint a, PointerPoint b) {
        return std::abs(a.x - b.x) < 1e-6 && std::abs(a.y - b.y) < 1e-6;
    };
    for (int bank = 0; bank < 4; ++bank) {
        if (!near(target(frame, Press::forBank(bank)), expected[bank])) return false;
    }
    PointerPoint mixer = target(frame, Press::mixer());
    if (!near(mixer, expected[4])) return false;
    auto events = clickEvents(pointer, mixer);
    if (!events || events->size() != 3) return false;
    const PointerEventType order[] = {PointerEventType::mouseMoved, PointerEventType::leftMouseDown,
                                      PointerEventType::leftMouseUp};
    for (size_t i = 0; i < 3; ++i) {
        if ((*events)[i].type != order[i] || (*events)[i].userData != eventMarker) return false;
    }
    return true;
}

PanelPlan TandemOverlay::bankContent(int selectedBank) {
    PanelPlan plan{{292, 56}, {}};
    for (int tag = 0; tag < 4; ++tag) {
        const bool on = tag == selectedBank;
        plan.buttons.push_back({tag,
                                bankTitles[tag],
                                {4.0 + 72 * tag, 4, 68, 48},
                                25,
                                FontWeight::bold,
                                on,
                                on ? PanelTint::accent : PanelTint::ink,
                                std::string("Koala pad bank ") + bankTitles[tag]});
    }
    return plan;
}

PanelPlan TandemOverlay::mixerContent() {
    return {{156, 56},
            {{0,
              "MIXER",
              {4, 4, 148, 48},
              23,
              FontWeight::bold,
              false,
              PanelTint::ink,
              "Open or close Koala mixer"}}};
}

PanelPlan TandemOverlay::toggleContent(bool hidden) {
    return {{92, 52},
            {{0,
              hidden ? "SHOW" : "HIDE",
              {4, 4, 84, 44},
              16,
              FontWeight::medium,
              false,
              PanelTint::ink,
              hidden ? "Show Koala overlay" : "Hide Koala overlay"}}};
}

std::shared_ptr<TandemOverlay> TandemOverlay::create(Services services) {
    return std::shared_ptr<TandemOverlay>(new TandemOverlay(std::move(services)));
}

TandemOverlay::TandemOverlay(Services services)
    : services(std::move(services)) {}

TandemOverlay::~TandemOverlay() {
    onBankSelected = nullptr;
    onKeyboardToggled = nullptr;
    stop();
}

void TandemOverlay::after(double seconds, std::function<void(TandemOverlay&)> step) {
    services.mainQueue->after(seconds, [weak = weak_from_this(), identity = session, step = std::move(step)] {
        auto self = weak.lock();
        if (self && self->session == identity) step(*self);
    });
}

void TandemOverlay::start(const RunningApplication& koala, const Screen& screen, int selected, bool chopper) {
    stop();
    closed = false;
    ++session;
    application = koala;
    displayFrame = screen.frame;
    bank = selected;
    chopperMode = chopper;
    currentPage = Page::sample;
    services.feed.setPage(std::string(name(currentPage)));
    suspended = keyboardPressPending = hidden = false;

    std::weak_ptr<TandemOverlay> weak = weak_from_this();
    bankPanel = services.panels.makePanel(bankContent(bank), [weak](int tag) {
        if (auto self = weak.lock()) self->bankPressed(tag);
    });
    mixerPanel = services.panels.makePanel(mixerContent(), [weak](int) {
        if (auto self = weak.lock()) self->mixerPressed();
    });
    togglePanel = services.panels.makePanel(toggleContent(false), [weak](int) {
        if (auto self = weak.lock()) self->toggleOverlay();
    });
    movePanels();

    mouseMonitor =
        services.pointer.monitorLeftButton(services.mainQueue, [weak](const MonitoredEvent& event) {
            auto self = weak.lock();
            if (!self || event.userData == eventMarker) return; // Tandem's own click, not the musician
            auto location = event.location ? event.location : self->services.pointer.location();
            if (!location) return;
            auto screens = self->services.screens.screens();
            const double firstMaxY =
                screens.empty() ? self->displayFrame.maxY() : screens.front().frame.maxY();
            self->observeTouch({location->x, firstMaxY - location->y}, event.type);
        });
    activationObserver = services.workspace.observe(WorkspaceNotice::didActivate, services.mainQueue,
                                                    [weak](const RunningApplication&) {
                                                        if (auto self = weak.lock()) self->updateVisibility();
                                                    });
    updateVisibility();
}

void TandemOverlay::stop() {
    closed = true;
    services.feed.setPage(std::nullopt);
    keyboardPressPending = false;
    ++session;
    pending.clear();
    isForwarding = false;
    mouseMonitor.reset();
    activationObserver.reset();
    for (auto* panel : {&bankPanel, &mixerPanel, &togglePanel}) {
        if (*panel) (*panel)->close();
        panel->reset();
    }
    application.reset();
}

bool TandemOverlay::koalaFrontmost() {
    if (!application) return false;
    auto front = services.workspace.frontmostApplication();
    return front && front->processIdentifier == application->processIdentifier;
}

std::optional<TandemOverlay::KoalaWindow> TandemOverlay::koalaWindow() {
    if (!application) return std::nullopt;
    const Rect display = displayRect(displayFrame, services.screens.screens());
    for (const WindowInfo& window : services.windows.onScreenWindows()) {
        if (window.ownerProcessIdentifier != application->processIdentifier || window.layer != 0 ||
            !window.bounds)
            continue;
        const Rect& b = *window.bounds;
        if (std::abs(b.x - display.x) < windowTolerance && std::abs(b.y - display.y) < windowTolerance &&
            std::abs(b.width - display.width) < windowTolerance &&
            std::abs(b.height - display.height) < windowTolerance) {
            return KoalaWindow{b, window.number};
        }
    }
    return std::nullopt;
}

void TandemOverlay::movePanels() {
    if (bankPanel) bankPanel->setOrigin({displayFrame.minX() + 8, displayFrame.maxY() - 64});
    if (mixerPanel) mixerPanel->setOrigin({displayFrame.minX() + 8, displayFrame.maxY() - 136});
    if (togglePanel) togglePanel->setOrigin({displayFrame.minX() + 176, displayFrame.maxY() - 134});
}

void TandemOverlay::updateVisibility() {
    if (closed || !application) return;
    active = koalaFrontmost();
    movePanels();
    const bool showing = active && !suspended && !isForwarding && koalaWindow();
    auto show = [](const std::unique_ptr<Panel>& panel, bool visible) {
        if (!panel) return;
        if (visible) {
            panel->orderFront();
        } else {
            panel->orderOut();
        }
    };
    show(bankPanel, showing && currentPage != Page::sequence && !hidden);
    show(mixerPanel, showing && currentPage == Page::perform && !hidden);
    // The toggle stays while the others are hidden, so the musician can bring them back.
    show(togglePanel, showing && currentPage != Page::sequence);
}

void TandemOverlay::observeTouch(Point at, PointerEventType type) {
    const bool press = type == PointerEventType::leftMouseDown;
    const bool wasPending = keyboardPressPending;
    if (!press) keyboardPressPending = false;
    if (!active || !koalaWindow() || displayFrame.width <= 0 || !displayFrame.contains(at)) return;
    const double fx = (at.x - displayFrame.minX()) / displayFrame.width;
    const double fy = (displayFrame.maxY() - at.y) / displayFrame.height;

    if (currentPage == Page::sequence && !suspended && fx >= 0.265 && fx < 0.343 && fy >= 0.465) {
        // Koala's own keyboard button: a press and its release on it toggle Koala's keyboard.
        if (press) {
            keyboardPressPending = fy < 0.523;
        } else if (fy < 0.523 && wasPending) {
            ActivityLog::write("Koala native keyboard click completed");
            if (onKeyboardToggled) onKeyboardToggled();
        }
        return;
    }
    if (!press) return;
    keyboardPressPending = false;
    if (fy >= 0.13) return;
    std::optional<Page> touched;
    if (fx >= 0.255 && fx < 0.383) {
        touched = Page::sample;
    } else if (fx >= 0.383 && fx < 0.533) {
        touched = Page::sequence;
    } else if (fx >= 0.533 && fx < 0.675) {
        touched = Page::perform;
    } else if (fx >= 0.675 && fx < 0.76) {
        suspended = true; // a Koala screen where the overlay must stay away
        updateVisibility();
        return;
    }
    if (!touched) return;
    currentPage = *touched;
    services.feed.setPage(std::string(name(currentPage)));
    ActivityLog::write(std::string("Koala page touch · ") + name(currentPage));
    suspended = false;
    after(followUp, [](TandemOverlay& self) {
        self.updateVisibility();
        if (self.currentPage == Page::sample && !self.suspended && !self.chopperMode)
            self.enqueue(Press::forBank(self.bank));
    });
}

void TandemOverlay::markBanks() {
    if (!bankPanel) return;
    for (const PanelButton& button : bankContent(bank).buttons)
        bankPanel->setButton(button);
}

void TandemOverlay::bankPressed(int tag) {
    if (tag < 0 || tag > 3) return;
    ActivityLog::write(std::string("Koala overlay tap · bank ") + bankTitles[tag]);
    // The bridge changes the MPC's bank and reports it back through selectBank.
    if (onBankSelected) onBankSelected(tag);
}

void TandemOverlay::mixerPressed() {
    if (currentPage != Page::perform) return;
    ActivityLog::write("Koala overlay tap · MIXER");
    if (closed || suspended) return;
    pending.push_back(Press::mixer());
    forwardNext(0);
}

void TandemOverlay::toggleOverlay() {
    hidden = !hidden;
    if (togglePanel) togglePanel->setButton(toggleContent(hidden).buttons.front());
    updateVisibility();
}

void TandemOverlay::selectBank(int selected) {
    if (selected < 0 || selected > 3) return; // not a bank the panel has
    bank = selected;
    markBanks();
    if (currentPage == Page::sample && !suspended && !chopperMode) enqueue(Press::forBank(selected));
}

void TandemOverlay::setChopperMode(bool on) {
    const bool turnedOff = chopperMode && !on;
    chopperMode = on;
    std::erase_if(pending, [](const Press& press) { return press.kind == Press::Kind::bank; });
    if (!turnedOff) return;
    after(followUp, [](TandemOverlay& self) {
        if (!self.chopperMode && self.currentPage == Page::sample) self.enqueue(Press::forBank(self.bank));
    });
}

void TandemOverlay::screenChanged(const std::optional<Screen>& screen) {
    if (screen) {
        displayFrame = screen->frame;
        movePanels();
        updateVisibility();
        return;
    }
    for (auto* panel : {&bankPanel, &mixerPanel, &togglePanel}) {
        if (*panel) (*panel)->orderOut();
    }
}

void TandemOverlay::enqueue(Press press) {
    if (closed || suspended) return;
    if (press.kind == Press::Kind::bank) {
        if (chopperMode) return;
        // Only the latest bank counts.
        if (!pending.empty() && pending.back().kind == Press::Kind::bank) {
            pending.back() = press;
        } else {
            pending.push_back(press);
        }
    } else {
        pending.push_back(press);
    }
    forwardNext(0);
}

bool TandemOverlay::suits(const Press& press) const {
    if (press.kind == Press::Kind::mixer) return currentPage == Page::perform;
    return currentPage == Page::sample && !chopperMode;
}

void TandemOverlay::forwardNext(int waited) {
    if (closed || isForwarding || pending.empty()) return;
    auto window = koalaWindow();
    if (!koalaFrontmost() || suspended || !services.accessibility.isProcessTrusted(false) || !window) {
        pending.clear();
        ActivityLog::write(
            "Koala overlay press skipped · sampler inactive, no fullscreen target, or no Accessibility");
        return;
    }
    if (services.pointer.leftButtonDown()) {
        // The musician is touching: wait a little for the finger to lift.
        if (waited > fingerPolls - 1) {
            pending.clear();
        } else {
            after(fingerPoll, [waited](TandemOverlay& self) { self.forwardNext(waited + 1); });
        }
        return;
    }
    std::optional<Press> press;
    while (!pending.empty() && !press) {
        Press next = pending.front();
        pending.pop_front();
        if (suits(next)) press = next;
    }
    if (!press) return;

    const PointerPoint point = target(window->frame, *press);
    auto events = clickEvents(services.pointer, point);
    if (!events) {
        pending.clear();
        ActivityLog::write(
            "Koala overlay press skipped · sampler inactive, no fullscreen target, or no Accessibility");
        return;
    }
    const auto remembered = services.pointer.location();
    isForwarding = true;
    updateVisibility(); // nothing of Tandem may lie over the target

    after(pressDelay, [events = *events, press = *press, number = window->number, point,
                       remembered](TandemOverlay& self) {
        auto now = self.koalaWindow();
        if (!self.koalaFrontmost() || !now || now->number != number ||
            self.services.pointer.leftButtonDown() || !self.suits(press)) {
            self.finishForwarding();
            return;
        }
        self.services.pointer.post(events[0]);
        self.services.pointer.post(events[1]);
        // The release goes out whatever happens meanwhile: a press without it leaves the button down.
        self.services.mainQueue->after(
            releaseDelay, [&pointer = self.services.pointer, release = events[2]] { pointer.post(release); });
        self.after(releaseDelay + settleDelay, [point, remembered](TandemOverlay& self) {
            Pointer& pointer = self.services.pointer;
            auto location = pointer.location();
            if (remembered && location && std::abs(location->x - point.x) <= pointerTolerance &&
                std::abs(location->y - point.y) <= pointerTolerance && !pointer.leftButtonDown()) {
                if (auto back = pointer.makeMouseEvent(PointerEventType::mouseMoved, *remembered)) {
                    back->userData = eventMarker;
                    pointer.post(*back);
                }
            }
            ActivityLog::write("Koala native press forwarded at " + std::to_string(std::lround(point.x)) +
                               "," + std::to_string(std::lround(point.y)));
            self.finishForwarding();
        });
    });
}

void TandemOverlay::finishForwarding() {
    isForwarding = false;
    updateVisibility();
    forwardNext(0);
}

} // namespace tandem
