#include "tandem/integration/TandemOverlay.h"

#include <cmath>

namespace tandem {

namespace {

// Koala's own buttons as fractions of its full-screen window, measured on 1280 × 800.
constexpr double bankFractions[] = {579.0 / 1280, 616.0 / 1280, 653.0 / 1280, 690.0 / 1280};
constexpr double mixerFraction = 0.809375;
constexpr double rowFraction = 0.96125;

} // namespace

PointerPoint TandemOverlay::target(const Rect& frame, const Press& press) {
    double fraction = press.kind == Press::Kind::mixer ? mixerFraction
                                                       : bankFractions[press.bank < 0   ? 0
                                                                       : press.bank > 3 ? 3
                                                                                        : press.bank];
    return {frame.x + fraction * frame.width, frame.y + rowFraction * frame.height};
}

std::optional<std::vector<PointerEvent>> TandemOverlay::clickEvents(Pointer& pointer, PointerPoint point) {
    std::vector<PointerEvent> events;
    for (PointerEventType type :
         {PointerEventType::mouseMoved, PointerEventType::leftMouseDown, PointerEventType::leftMouseUp}) {
        auto event = pointer.makeMouseEvent(type, point);
        if (!event) return std::nullopt;
        event->flags = 0;
        event->clickState = 1;
        event->userData = eventMarker;
        events.push_back(*event);
    }
    return events;
}

bool TandemOverlay::offlineSelfCheck(Pointer& pointer) {
    const Rect frame{-1280, 0, 1280, 800};
    const PointerPoint expected[] = {{-701, 769}, {-664, 769}, {-627, 769}, {-590, 769}, {-244, 769}};
    auto near = [](PointerPoint a, PointerPoint b) {
        return std::abs(a.x - b.x) < 1e-6 && std::abs(a.y - b.y) < 1e-6;
    };
    for (int bank = 0; bank < 4; ++bank) {
        if (!near(target(frame, Press::forBank(bank)), expected[bank])) return false;
    }
    PointerPoint mixer = target(frame, Press::mixer());
    if (!near(mixer, expected[4])) return false;
    auto events = clickEvents(pointer, mixer);
    if (!events || events->size() != 3) return false;
    const PointerEventType order[] = {PointerEventType::mouseMoved, PointerEventType::leftMouseDown,
                                      PointerEventType::leftMouseUp};
    for (size_t i = 0; i < 3; ++i) {
        if ((*events)[i].type != order[i] || (*events)[i].userData != eventMarker) return false;
    }
    return true;
}

} // namespace tandem
