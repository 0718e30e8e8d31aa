#include "tandem/webcam/KoalaStutterTouch.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace tandem {

KoalaStutterTouch::KoalaStutterTouch(Services services)
    : services(std::move(services)) {}

KoalaStutterTouch::~KoalaStutterTouch() {
    stop();
}

void KoalaStutterTouch::start() {
    if (monitor) return;
    std::weak_ptr<KoalaStutterTouch> weak = weak_from_this();
    monitor = services.pointer.monitorLeftButton(services.mainQueue, [weak](const MonitoredEvent& event) {
        auto self = weak.lock();
        if (!self) return;
        if (event.type == PointerEventType::leftMouseUp) {
            self->released();
            return;
        }
        // Display coordinates (y down from the top of the first screen), as the window list has them.
        auto location = event.location ? event.location : self->services.pointer.location();
        if (location) self->pressed(*location);
    });
}

void KoalaStutterTouch::stop() {
    monitor.reset();
    released();
}

std::optional<KoalaStutterTouch::Location> KoalaStutterTouch::locate(Point location) {
    std::set<int32_t> koala;
    for (const RunningApplication& application : services.workspace.runningApplications())
        if (application.bundleIdentifier == koalaBundleIdentifier && !application.terminated)
            koala.insert(application.processIdentifier);
    if (koala.empty()) return std::nullopt;

    std::optional<Rect> largest;
    for (const WindowInfo& window : services.windows.onScreenWindows()) {
        if (!window.ownerProcessIdentifier || !koala.count(*window.ownerProcessIdentifier)) continue;
        if (window.layer != 0 || !window.bounds || !(window.bounds->width > narrowestWindow)) continue;
        const Rect& bounds = *window.bounds;
        if (!largest || bounds.width * bounds.height > largest->width * largest->height) largest = bounds;
    }
    if (!largest || !(largest->height > 0) || !largest->contains(location)) return std::nullopt;
    return Location{{(location.x - largest->x) / largest->width, (location.y - largest->y) / largest->height},
                    *largest};
}

void KoalaStutterTouch::pressed(Point location) {
    auto at = locate(location);
    if (!at) return;
    if (learning) {
        spot = at->point;
        learning = false;
        if (onLearned) onLearned(at->point);
        return;
    }
    if (!spot) return;
    const std::optional<std::string> page = services.feed.snapshot().page;
    if (page && *page != "perform") return;
    const double distance =
        std::hypot((at->point.x - spot->x) * at->window.width, (at->point.y - spot->y) * at->window.height);
    const double radius = std::max(at->window.width * radiusFraction, smallestRadius);
    if (distance < radius) {
        held = true;
        services.feed.setTouchStutter(true);
    }
}

void KoalaStutterTouch::released() {
    if (!held) return;
    held = false;
    services.feed.setTouchStutter(false);
}

} // namespace tandem
