#pragma once

#include <cstdint>
#include <optional>

namespace tandem {

// A point in display coordinates: origin at the top-left of the first screen, y down.
struct PointerPoint {
    double x = 0;
    double y = 0;
    bool operator==(const PointerPoint&) const = default;
};

enum class PointerEventType { mouseMoved, leftMouseDown, leftMouseUp };

// A synthesized mouse event as it will be posted.
struct PointerEvent {
    PointerEventType type = PointerEventType::mouseMoved;
    PointerPoint location;
    uint64_t flags = 0; // modifier flags
    int64_t clickState = 1;
    int64_t userData = 0; // the source user-data field: Tandem marks its own events here

    bool operator==(const PointerEvent&) const = default;
};

// The platform's pointer: making and posting mouse events, and reading the pointer's state.
class Pointer {
public:
    virtual ~Pointer() = default;

    // A mouse event from a private event source, or nothing when the platform cannot make one.
    virtual std::optional<PointerEvent> makeMouseEvent(PointerEventType type, PointerPoint location) = 0;
    // Posts at the system's event tap.
    virtual void post(const PointerEvent& event) = 0;
    virtual std::optional<PointerPoint> location() = 0;
    virtual bool leftButtonDown() = 0;
};

} // namespace tandem
