#pragma once

#include "platform/Geometry.h"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tandem {

// An element of another application's interface (an application, a window, a button).
struct AXElement {
    uint64_t id = 0; // 0 = none
    bool operator==(const AXElement&) const = default;
};

// An attribute's value with its type, as Accessibility hands it over: a boolean, a number, a string,
// a point, a size, an element or a list of elements. Readers check the type they need.
using AXValue = std::variant<bool, double, std::string, Point, Size, AXElement, std::vector<AXElement>>;

// The platform's Accessibility interface, in its own names ("AXWindows", "AXTitle", "AXPosition",
// "AXSize", "AXFullScreen", "AXFullScreenButton"; the action "AXPress"), so that callers' type checks
// read as they would against the system itself.
class Accessibility {
public:
    virtual ~Accessibility() = default;

    // Whether this process may control other applications; `prompt` lets the system ask the user.
    virtual bool isProcessTrusted(bool prompt) = 0;
    virtual AXElement applicationElement(int32_t processIdentifier) = 0;
    // The attribute's value, or nothing when it cannot be read.
    virtual std::optional<AXValue> attribute(AXElement element, const std::string& name) = 0;
    // True when the element took the value.
    virtual bool setAttribute(AXElement element, const std::string& name, const AXValue& value) = 0;
    virtual bool performAction(AXElement element, const std::string& action) = 0;
};

} // namespace tandem
