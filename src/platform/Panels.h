#pragma once

#include "platform/Geometry.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tandem {

enum class FontWeight { regular, medium, semibold, bold };
enum class PanelTint { ink, accent };

// A square button on a panel; its frame is in the panel's own coordinates (origin bottom-left).
struct PanelButton {
    int tag = 0;
    std::string title;
    Rect frame;
    double fontSize = 13;
    FontWeight weight = FontWeight::regular;
    bool on = false;
    PanelTint tint = PanelTint::ink;
    std::string accessibilityLabel;

    bool operator==(const PanelButton&) const = default;
};

struct PanelPlan {
    Size size;
    std::vector<PanelButton> buttons;

    bool operator==(const PanelPlan&) const = default;
};

// A floating panel of buttons over every other window: it never becomes key or main, never activates
// Tandem, shows on every space and beside full-screen windows, and stays when Tandem is inactive.
class Panel {
public:
    virtual ~Panel() = default;

    // The bottom-left corner in global coordinates (origin bottom-left of the first screen, y up).
    virtual void setOrigin(Point origin) = 0;
    // Shown in front regardless of the active application.
    virtual void orderFront() = 0;
    virtual void orderOut() = 0;
    virtual bool isVisible() const = 0;
    // Replaces the button with the same tag.
    virtual void setButton(const PanelButton& button) = 0;
    virtual void close() = 0;
};

class Panels {
public:
    virtual ~Panels() = default;

    // A new panel, not yet shown. `onTap` gets the tag of a tapped button, on the main queue.
    virtual std::unique_ptr<Panel> makePanel(const PanelPlan& plan, std::function<void(int tag)> onTap) = 0;
};

} // namespace tandem
