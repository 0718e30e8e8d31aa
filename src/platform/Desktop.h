#pragma once

#include "platform/Geometry.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tandem {

// One entry of Tandem's menus. An empty title is a separator.
struct MenuEntry {
    std::string title;
    std::string mainKey;   // the key equivalent in the main menu ("o": Command-O); empty: none
    std::string statusKey; // the key equivalent in the status item's menu; empty: none
    std::function<void()> action;
    bool enabled = true;
};

enum class ActivationPolicy { regular, accessory };

// A status card's window: borderless, at the floating level, in front of every application's windows,
// never activating Tandem. Its content is a card showing one status line.
struct CardWindowPlan {
    Rect frame;       // global coordinates (origin bottom-left of the first screen, y up)
    bool shadow = false;
    std::string status;
    bool operator==(const CardWindowPlan&) const = default;
};

class CardWindow {
public:
    virtual ~CardWindow() = default;
    // Shows `status` and redraws, even when it is the text already shown.
    virtual void setStatus(const std::string& status) = 0;
    // Orders the window out and closes it; nothing more is drawn.
    virtual void close() = 0;
};

// The controller choice window: created once, shown at every pick.
enum class ControllerPick { mpcTouch, push2 };

class ChoiceWindow {
public:
    virtual ~ChoiceWindow() = default;
    // Called on the main queue. `onChoose` comes after the window closed itself; `onWebcam` leaves it
    // open. Closing the window with its close button calls neither.
    std::function<void(ControllerPick)> onChoose;
    std::function<void()> onWebcam;

    // Shows the window, makes it key and brings it to the front.
    virtual void show() = 0;
    virtual void close() = 0;
    virtual bool isVisible() const = 0;
};

// What Tandem's own application is on the desktop: its menus and status item, its activation, its
// windows, its end. Main queue only.
class Desktop {
public:
    virtual ~Desktop() = default;

    // Tandem's version as its bundle declares it ("CFBundleShortVersionString"); empty when none.
    virtual std::string version() = 0;
    virtual void setActivationPolicy(ActivationPolicy policy) = 0;
    // The main menu (one untitled menu holding the entries) and the status item titled "Tandem" with
    // its own menu of the same entries. Called once.
    virtual void installMenus(const std::vector<MenuEntry>& entries) = 0;
    // Enables or disables the entries with this title in both menus.
    virtual void setMenuEntryEnabled(const std::string& title, bool enabled) = 0;
    // The status item's tool tip.
    virtual void setStatusToolTip(const std::string& text) = 0;
    // Brings Tandem to the front, ignoring other applications.
    virtual void activate() = 0;
    // A new card window, ordered front at once.
    virtual std::unique_ptr<CardWindow> openCard(const CardWindowPlan& plan) = 0;
    // The choice window, made on first use and kept.
    virtual ChoiceWindow& choiceWindow() = 0;
    // Asks the application to end: its event loop stops after the termination handler ran.
    virtual void terminate() = 0;
};

} // namespace tandem
