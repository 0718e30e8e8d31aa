#pragma once

#include "platform/Pointer.h"
#include "platform/sim/SimNotices.h"

#include <functional>
#include <mutex>
#include <vector>

namespace tandem {

// A pointer that records what is posted, moves to posted locations, and hands every press and release
// to the applications under it (sinks) and to global monitors, as the system does for events that
// reach other applications. `press` and `release` stand for the musician's own touches.
class SimPointer final : public Pointer {
public:
    std::optional<PointerEvent> makeMouseEvent(PointerEventType type, PointerPoint location) override;
    void post(const PointerEvent& event) override;
    std::optional<PointerPoint> location() override;
    bool leftButtonDown() override;
    ObservationToken monitorLeftButton(std::shared_ptr<Queue> queue,
                                       std::function<void(const MonitoredEvent&)> handler) override;

    // The musician's finger or mouse: unmarked events, the button held between press and release.
    void press(PointerPoint at);
    void release(PointerPoint at);

    // A simulated application receiving what reaches it (called synchronously, any thread).
    using Sink = std::function<void(const PointerEvent&)>;
    int addSink(Sink sink);
    void removeSink(int id);

    std::vector<PointerEvent> postedEvents();
    void clearPosted();
    void moveTo(PointerPoint point);
    void setLeftButtonDown(bool down);
    // When false, the pointer cannot make events (as with no event source).
    void setCanMakeEvents(bool can);

private:
    void deliver(const PointerEvent& event);

    std::mutex lock;
    std::vector<PointerEvent> posted;
    std::optional<PointerPoint> current = PointerPoint{};
    bool buttonDown = false;
    bool canMake = true;
    std::vector<std::pair<int, Sink>> sinks;
    int nextSink = 1;
    SimNotices<MonitoredEvent> monitors;
};

} // namespace tandem
