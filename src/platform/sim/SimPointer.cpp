#include "platform/sim/SimPointer.h"

namespace tandem {

std::optional<PointerEvent> SimPointer::makeMouseEvent(PointerEventType type, PointerPoint location) {
    std::lock_guard guard(lock);
    if (!canMake) return std::nullopt;
    return PointerEvent{type, location};
}

void SimPointer::post(const PointerEvent& event) {
    {
        std::lock_guard guard(lock);
        posted.push_back(event);
        current = event.location;
        if (event.type == PointerEventType::leftMouseDown) buttonDown = true;
        if (event.type == PointerEventType::leftMouseUp) buttonDown = false;
    }
    deliver(event);
}

void SimPointer::press(PointerPoint at) {
    {
        std::lock_guard guard(lock);
        current = at;
        buttonDown = true;
    }
    deliver({PointerEventType::leftMouseDown, at});
}

void SimPointer::release(PointerPoint at) {
    {
        std::lock_guard guard(lock);
        current = at;
        buttonDown = false;
    }
    deliver({PointerEventType::leftMouseUp, at});
}

void SimPointer::deliver(const PointerEvent& event) {
    std::vector<Sink> targets;
    {
        std::lock_guard guard(lock);
        for (auto& [id, sink] : sinks)
            targets.push_back(sink);
    }
    for (auto& sink : targets)
        sink(event);
    if (event.type != PointerEventType::mouseMoved)
        monitors.post(MonitoredEvent{event.type, event.location, event.userData});
}

std::optional<PointerPoint> SimPointer::location() {
    std::lock_guard guard(lock);
    return current;
}

bool SimPointer::leftButtonDown() {
    std::lock_guard guard(lock);
    return buttonDown;
}

ObservationToken SimPointer::monitorLeftButton(std::shared_ptr<Queue> queue,
                                               std::function<void(const MonitoredEvent&)> handler) {
    return monitors.add(std::move(queue), std::move(handler));
}

int SimPointer::addSink(Sink sink) {
    std::lock_guard guard(lock);
    sinks.emplace_back(nextSink, std::move(sink));
    return nextSink++;
}

void SimPointer::removeSink(int id) {
    std::lock_guard guard(lock);
    std::erase_if(sinks, [&](const auto& entry) { return entry.first == id; });
}

std::vector<PointerEvent> SimPointer::postedEvents() {
    std::lock_guard guard(lock);
    return posted;
}

void SimPointer::clearPosted() {
    std::lock_guard guard(lock);
    posted.clear();
}

void SimPointer::moveTo(PointerPoint point) {
    std::lock_guard guard(lock);
    current = point;
}

void SimPointer::setLeftButtonDown(bool down) {
    std::lock_guard guard(lock);
    buttonDown = down;
}

void SimPointer::setCanMakeEvents(bool can) {
    std::lock_guard guard(lock);
    canMake = can;
}

} // namespace tandem
