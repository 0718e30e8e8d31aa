#include "platform/sim/SimDesktop.h"

namespace tandem {

namespace {

class SimCardWindow final : public CardWindow {
public:
    explicit SimCardWindow(std::shared_ptr<SimDesktop::Card> card)
        : card(std::move(card)) {}
    ~SimCardWindow() override { close(); }
    void setStatus(const std::string& status) override {
        if (!card->open) return;
        card->status = status;
        ++card->redraws;
    }
    void close() override { card->open = false; }

private:
    std::shared_ptr<SimDesktop::Card> card;
};

} // namespace

void SimDesktop::Choice::show() {
    visible = true;
    ++shows;
}

void SimDesktop::Choice::close() {
    visible = false;
}

void SimDesktop::Choice::choose(ControllerPick pick) {
    close();
    if (onChoose) onChoose(pick);
}

void SimDesktop::Choice::pressWebcam() {
    if (onWebcam) onWebcam();
}

void SimDesktop::Choice::pressClose() {
    close();
}

void SimDesktop::installMenus(const std::vector<MenuEntry>& entries) {
    menu = entries;
    ++menuInstalls;
}

void SimDesktop::setMenuEntryEnabled(const std::string& title, bool enabled) {
    for (MenuEntry& entry : menu) {
        if (entry.title == title) entry.enabled = enabled;
    }
}

bool SimDesktop::trigger(const std::string& title) {
    for (const MenuEntry& entry : menu) {
        if (entry.title != title || title.empty()) continue;
        if (!entry.enabled || !entry.action) return false;
        auto action = entry.action; // the action may reinstall the menu
        action();
        return true;
    }
    return false;
}

std::unique_ptr<CardWindow> SimDesktop::openCard(const CardWindowPlan& plan) {
    auto card = std::make_shared<Card>();
    card->plan = plan;
    card->status = plan.status;
    cards.push_back(card);
    return std::make_unique<SimCardWindow>(card);
}

std::vector<std::shared_ptr<const SimDesktop::Card>> SimDesktop::openCards() const {
    std::vector<std::shared_ptr<const Card>> open;
    for (const auto& card : cards) {
        if (card->open) open.push_back(card);
    }
    return open;
}

ChoiceWindow& SimDesktop::choiceWindow() {
    if (!choiceMade) choiceMade = std::make_unique<Choice>();
    return *choiceMade;
}

void SimDesktop::terminate() {
    if (terminateRequested) return;
    terminateRequested = true;
    if (onTerminate) onTerminate();
}

} // namespace tandem
