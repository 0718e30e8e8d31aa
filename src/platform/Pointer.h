#pragma once

#include "base/Queue.h"
#include "platform/Geometry.h"
#include "platform/Observation.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace tandem {

// Pointer locations are in display coordinates: origin at the top-left of the first screen, y down.
using PointerPoint = Point;

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

// A left-button press or release seen by a global monitor, as another application received it.
struct MonitoredEvent {
    PointerEventType type = PointerEventType::leftMouseDown; // leftMouseDown or leftMouseUp
    std::optional<PointerPoint> location;
    int64_t userData = 0; // the source user-data field of the event

    bool operator==(const MonitoredEvent&) const = default;
};

// The platform's pointer: making and posting mouse events, reading the pointer's state, and watching
// the left button in other applications.
class Pointer {
public:
    virtual ~Pointer() = default;

    // A mouse event from a private event source, or nothing when the platform cannot make one.
    virtual std::optional<PointerEvent> makeMouseEvent(PointerEventType type, PointerPoint location) = 0;
    // Posts at the system's event tap.
    virtual void post(const PointerEvent& event) = 0;
    virtual std::optional<PointerPoint> location() = 0;
    virtual bool leftButtonDown() = 0;
    // Every left-button press and release in other applications, on `queue`, until the token goes.
    virtual ObservationToken monitorLeftButton(std::shared_ptr<Queue> queue,
                                               std::function<void(const MonitoredEvent&)> handler) = 0;
};

} // namespace tandem
