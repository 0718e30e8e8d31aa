#pragma once

#include "platform/Pointer.h"

#include <mutex>
#include <vector>

namespace tandem {

// A pointer that records what is posted and moves to posted locations.
class SimPointer final : public Pointer {
public:
    std::optional<PointerEvent> makeMouseEvent(PointerEventType type, PointerPoint location) override {
        return PointerEvent{type, location};
    }
    void post(const PointerEvent& event) override {
        std::lock_guard guard(lock);
        posted.push_back(event);
        current = event.location;
    }
    std::optional<PointerPoint> location() override {
        std::lock_guard guard(lock);
        return current;
    }
    bool leftButtonDown() override {
        std::lock_guard guard(lock);
        return buttonDown;
    }

    std::vector<PointerEvent> postedEvents() {
        std::lock_guard guard(lock);
        return posted;
    }
    void moveTo(PointerPoint point) {
        std::lock_guard guard(lock);
        current = point;
    }
    void setLeftButtonDown(bool down) {
        std::lock_guard guard(lock);
        buttonDown = down;
    }

private:
    std::mutex lock;
    std::vector<PointerEvent> posted;
    std::optional<PointerPoint> current = PointerPoint{};
    bool buttonDown = false;
};

} // namespace tandem
