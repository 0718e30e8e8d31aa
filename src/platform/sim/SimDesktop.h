#pragma once

#include "platform/Desktop.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tandem {

// Tandem's own application on the simulated Mac: it records the menus, the status item, activations,
// the cards with what they show, the choice window and the request to end, and lets a test or the rig
// use them as the musician would (a menu entry, a choice button, the window's close button).
class SimDesktop final : public Desktop {
public:
    struct Card {
        CardWindowPlan plan;
        std::string status;
        int redraws = 0;
        bool open = true;
    };

    class Choice final : public ChoiceWindow {
    public:
        void show() override;
        void close() override;
        bool isVisible() const override { return visible; }

        // The musician's presses: a controller (the window closes first), WEBCAM SETUP, the close button.
        void choose(ControllerPick pick);
        void pressWebcam();
        void pressClose();
        int shows = 0;

    private:
        bool visible = false;
    };

    std::string version() override { return versionText; }
    void setActivationPolicy(ActivationPolicy policy) override { activationPolicy = policy; }
    void installMenus(const std::vector<MenuEntry>& entries) override;
    void setMenuEntryEnabled(const std::string& title, bool enabled) override;
    void setStatusToolTip(const std::string& text) override {
        toolTip = text;
        toolTips.push_back(text);
    }
    void activate() override { ++activations; }
    std::unique_ptr<CardWindow> openCard(const CardWindowPlan& plan) override;
    ChoiceWindow& choiceWindow() override;
    void terminate() override;

    // Runs the enabled menu entry with this title; false when there is none or it is disabled.
    bool trigger(const std::string& title);
    // The cards open now, in the order they were opened.
    std::vector<std::shared_ptr<const Card>> openCards() const;
    Choice* choice() { return choiceMade.get(); }

    std::string versionText = "1.0";
    std::optional<ActivationPolicy> activationPolicy;
    std::vector<MenuEntry> menu;
    int menuInstalls = 0;
    std::string toolTip;
    std::vector<std::string> toolTips; // every one set, in order
    int activations = 0;
    std::vector<std::shared_ptr<Card>> cards; // every card ever opened
    bool terminateRequested = false;
    // Runs once when termination is asked for: what ends the application's event loop.
    std::function<void()> onTerminate;

private:
    std::unique_ptr<Choice> choiceMade;
};

} // namespace tandem
