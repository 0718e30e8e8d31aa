#pragma once

#include "base/Error.h"
#include "base/Queue.h"
#include "platform/Accessibility.h"
#include "platform/Panels.h"
#include "platform/Pointer.h"
#include "platform/Screens.h"
#include "platform/WindowServer.h"
#include "platform/Workspace.h"
#include "tandem/audio/KoalaPerformanceFeed.h"

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tandem {

// The touch buttons over Koala on the MPC display: four pad banks, MIXER and HIDE/SHOW. A press on
// one is carried out by clicking Koala's own, much smaller, button at the matching point of its
// window. The overlay also follows which of Koala's pages the musician touches, and keeps Koala's
// bank in step with the MPC's. Main queue only; every delayed step carries the start identity it
// began under and does nothing once it changed.
class TandemOverlay : public std::enable_shared_from_this<TandemOverlay> {
public:
    enum class Page { sample, sequence, perform };
    static const char* name(Page page);

    struct Press {
        enum class Kind { bank, mixer };
        Kind kind = Kind::bank;
        int bank = 0;

        static Press forBank(int bank) { return {Kind::bank, bank}; }
        static Press mixer() { return {Kind::mixer, 0}; }
        bool operator==(const Press&) const = default;
    };

    using Rect = tandem::Rect;

    struct Services {
        Workspace& workspace;
        Screens& screens;
        WindowServer& windows;
        Accessibility& accessibility;
        Pointer& pointer;
        Panels& panels;
        std::shared_ptr<Queue> mainQueue;
        KoalaPerformanceFeed& feed = KoalaPerformanceFeed::shared();
    };

    // Marks Tandem's own synthesized events so that its touch monitor never mistakes them for the
    // musician's ("TANDEM!!").
    static constexpr int64_t eventMarker = 0x54414E44454D2121;

    static std::shared_ptr<TandemOverlay> create(Services services);
    ~TandemOverlay();

    // Callbacks, on the main queue.
    std::function<void(int bank)> onBankSelected;
    std::function<void()> onKeyboardToggled;

    void start(const RunningApplication& application, const Screen& screen, int bank, bool chopperMode);
    void stop();
    // The MPC's pad bank changed (from the bridge).
    void selectBank(int bank);
    void setChopperMode(bool on);
    // The MPC display moved, or went away (none).
    void screenChanged(const std::optional<Screen>& screen);

    // Button actions.
    void bankPressed(int tag);
    void mixerPressed();
    void toggleOverlay();

    // State, for the shell and tests.
    Page page() const { return currentPage; }
    int selectedBank() const { return bank; }
    bool overlayHidden() const { return hidden; }
    bool controlsSuspended() const { return suspended; }
    const std::deque<Press>& pendingPresses() const { return pending; }
    bool forwarding() const { return isForwarding; }

    // The point of Koala's own button for a press, in display coordinates, for Koala's window frame.
    static PointerPoint target(const Rect& frame, const Press& press);
    // A marked mouse move, left-button press and release at the point; nothing when the pointer
    // cannot make one of them. Posts nothing.
    static std::optional<std::vector<PointerEvent>> clickEvents(Pointer& pointer, PointerPoint point);
    // The measured targets on a 1280 × 800 window and the three marked events, posting nothing.
    static bool offlineSelfCheck(Pointer& pointer);
    // The bank and mixer panels side by side on a 480 × 80 card, as a PNG file (drawn with QtGui, in
    // the library tandem_overlay_art).
    static Result<void> writePreview(const std::filesystem::path& file);

    // The panels' contents, as they are built for a selected bank.
    static PanelPlan bankContent(int selectedBank);
    static PanelPlan mixerContent();
    static PanelPlan toggleContent(bool hidden);

private:
    explicit TandemOverlay(Services services);

    struct KoalaWindow {
        Rect frame;
        uint32_t number;
    };

    void updateVisibility();
    void movePanels();
    void observeTouch(Point at, PointerEventType type);
    void enqueue(Press press);
    void forwardNext(int waited);
    void finishForwarding();
    std::optional<KoalaWindow> koalaWindow();
    bool koalaFrontmost();
    bool suits(const Press& press) const;
    void markBanks();
    void after(double seconds, std::function<void(TandemOverlay&)> step);

    Services services;
    std::optional<RunningApplication> application;
    Rect displayFrame;
    std::unique_ptr<Panel> bankPanel, mixerPanel, togglePanel;
    bool hidden = false;
    ObservationToken mouseMonitor;
    ObservationToken activationObserver;
    Page currentPage = Page::sample;
    int bank = 0;
    bool chopperMode = false;
    bool active = false;
    bool closed = false;
    bool suspended = false;
    bool keyboardPressPending = false;
    std::deque<Press> pending;
    bool isForwarding = false;
    uint64_t session = 0; // the start identity
};

} // namespace tandem
