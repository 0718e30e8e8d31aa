#include "platform/sim/SimPanels.h"

#include <algorithm>

namespace tandem {

SimPanel::SimPanel(SimPanels& owner, PanelPlan plan, std::function<void(int)> onTap)
    : owner(owner)
    , current(std::move(plan))
    , onTap(std::move(onTap)) {
    std::lock_guard guard(owner.lock);
    owner.live.push_back(this);
}

SimPanel::~SimPanel() {
    std::lock_guard guard(owner.lock);
    std::erase(owner.live, this);
}

void SimPanel::setButton(const PanelButton& button) {
    for (auto& existing : current.buttons) {
        if (existing.tag == button.tag) existing = button;
    }
}

const PanelButton* SimPanel::button(int tag) const {
    for (const auto& existing : current.buttons) {
        if (existing.tag == tag) return &existing;
    }
    return nullptr;
}

void SimPanel::tap(int tag) {
    if (!visible || !button(tag)) return; // a hidden panel cannot be touched
    owner.mainQueue->async([callback = onTap, tag] {
        if (callback) callback(tag);
    });
}

std::unique_ptr<Panel> SimPanels::makePanel(const PanelPlan& plan, std::function<void(int)> onTap) {
    return std::make_unique<SimPanel>(*this, plan, std::move(onTap));
}

std::vector<SimPanel*> SimPanels::panels() {
    std::lock_guard guard(lock);
    return live;
}

SimPanel* SimPanels::panelWith(const std::string& title) {
    std::lock_guard guard(lock);
    for (SimPanel* panel : live) {
        for (const auto& button : panel->plan().buttons) {
            if (button.title == title) return panel;
        }
    }
    return nullptr;
}

} // namespace tandem
