#pragma once

#include "platform/Desktop.h"

#include <QIcon>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QMenu;
class QSystemTrayIcon;

namespace tandem {

// Tandem's own application on a Qt Widgets desktop. Every call, every menu action and
// `onWillTerminate` run on the GUI thread, which is the program's main queue.
//
// The status item is a system tray icon with its own menu of the entries (each showing its status key
// as its shortcut, "Ctrl+O" for "o"). Linux has no main menu bar: the main menu is kept as a menu of
// its own, never shown, whose keys work as application-wide shortcuts from any of Tandem's windows
// (each top-level window carries them as it is shown). Without a system tray (Qt's offscreen
// platform, a bare X server) that is all there is of the menus: one log line says so, once per
// process, and Tandem carries on.
//
// Closing Tandem's last window never ends it; `terminate` does, once the event loop runs.
class QtDesktop final : public Desktop {
public:
    using CardFactory = std::function<std::unique_ptr<CardWindow>(const CardWindowPlan&)>;
    using ChoiceFactory = std::function<std::unique_ptr<ChoiceWindow>()>;

    static constexpr const char* noTrayNotice =
        "No system tray: Tandem's menu is only reachable through its keyboard shortcuts";

    // Needs a QApplication.
    QtDesktop(QIcon icon, CardFactory makeCard, ChoiceFactory makeChoice);
    ~QtDesktop() override;
    QtDesktop(const QtDesktop&) = delete;
    QtDesktop& operator=(const QtDesktop&) = delete;

    // The application's version (QCoreApplication::applicationVersion); empty when none was set.
    std::string version() override;
    // Only recorded: Linux has no Dock to show Tandem in or leave it out of.
    void setActivationPolicy(ActivationPolicy policy) override;
    void installMenus(const std::vector<MenuEntry>& entries) override;
    void setMenuEntryEnabled(const std::string& title, bool enabled) override;
    // "Tandem" until set.
    void setStatusToolTip(const std::string& text) override;
    // Raises Tandem's visible windows (minimised ones stay) and activates the one last active.
    void activate() override;
    std::unique_ptr<CardWindow> openCard(const CardWindowPlan& plan) override;
    ChoiceWindow& choiceWindow() override;
    // Ends the event loop from within it (a request made before the loop runs ends it as it starts).
    void terminate() override;

    // Called once, as the event loop ends (QCoreApplication::aboutToQuit), before exec returns.
    std::function<void()> onWillTerminate;

    std::optional<ActivationPolicy> activationPolicy() const;
    // Nothing before installMenus.
    QSystemTrayIcon* statusItem() const;
    QMenu* statusMenu() const;
    QMenu* mainMenu() const;

    struct Parts;

private:
    std::unique_ptr<Parts> parts;
};

} // namespace tandem
