#pragma once

#include "base/Queue.h"
#include "platform/Panels.h"

#include <memory>
#include <mutex>
#include <vector>

namespace tandem {

class SimPanels;

// A panel that remembers how it was last set up; a test taps its buttons.
class SimPanel final : public Panel {
public:
    SimPanel(SimPanels& owner, PanelPlan plan, std::function<void(int)> onTap);
    ~SimPanel() override;

    void setOrigin(Point origin) override { at = origin; }
    void orderFront() override { visible = !closed; }
    void orderOut() override { visible = false; }
    bool isVisible() const override { return visible; }
    void setButton(const PanelButton& button) override;
    void close() override {
        closed = true;
        visible = false;
    }

    const PanelPlan& plan() const { return current; }
    Point origin() const { return at; }
    bool isClosed() const { return closed; }
    const PanelButton* button(int tag) const;
    // A tap on the button with that tag, delivered on the main queue as the real one is.
    void tap(int tag);

private:
    SimPanels& owner;
    PanelPlan current;
    std::function<void(int)> onTap;
    Point at;
    bool visible = false;
    bool closed = false;
};

class SimPanels final : public Panels {
public:
    explicit SimPanels(std::shared_ptr<Queue> mainQueue)
        : mainQueue(std::move(mainQueue)) {}

    std::unique_ptr<Panel> makePanel(const PanelPlan& plan, std::function<void(int)> onTap) override;

    // The panels alive now, oldest first.
    std::vector<SimPanel*> panels();
    // The live panel holding a button with that title, or null.
    SimPanel* panelWith(const std::string& title);

private:
    friend class SimPanel;
    std::shared_ptr<Queue> mainQueue;
    std::mutex lock;
    std::vector<SimPanel*> live;
};

} // namespace tandem
