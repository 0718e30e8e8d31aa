#pragma once

#include "base/Queue.h"
#include "platform/Geometry.h"
#include "platform/Observation.h"
#include "platform/Pointer.h"
#include "platform/WindowServer.h"
#include "platform/Workspace.h"
#include "tandem/audio/KoalaPerformanceFeed.h"

#include <functional>
#include <memory>
#include <optional>

namespace tandem {

// Learns where Koala's STUTTER control sits in Koala's window (one press while learning) and then
// notices the musician holding it, with the mouse or the touch screen, on Koala's Perform page: the
// feed's `touchStutter` is on from that press to the next release. Runs on the main queue, where the
// pointer monitor delivers; create it with std::make_shared.
class KoalaStutterTouch : public std::enable_shared_from_this<KoalaStutterTouch> {
public:
    struct Services {
        Workspace& workspace;
        WindowServer& windows;
        Pointer& pointer;
        KoalaPerformanceFeed& feed;
        std::shared_ptr<Queue> mainQueue;
    };

    // Koala's window and a point in it as fractions of its size from its top-left corner.
    struct Location {
        Point point;
        Rect window; // display coordinates
        bool operator==(const Location&) const = default;
    };

    static constexpr const char* koalaBundleIdentifier = "com.elf-audio.koala-mac";
    static constexpr double narrowestWindow = 200;  // points; Koala's small windows are narrower
    static constexpr double radiusFraction = 0.035; // of the window's width
    static constexpr double smallestRadius = 28;    // points

    explicit KoalaStutterTouch(Services services);
    ~KoalaStutterTouch();
    KoalaStutterTouch(const KoalaStutterTouch&) = delete;
    KoalaStutterTouch& operator=(const KoalaStutterTouch&) = delete;

    // Watches the left button from now on (once); stop ends the watch and lets go of a held STUTTER.
    void start();
    void stop();

    // The next press on Koala becomes the spot (the window's "LEARN KOALA'S STUTTER" button).
    bool learning = false;
    std::optional<Point> spot;
    // Called on the main queue with a newly learned spot.
    std::function<void(Point)> onLearned;

    bool holding() const { return held; }
    bool started() const { return monitor != nullptr; }

    // Where a display location falls in Koala's largest layer-0 window wider than 200 points; nothing
    // when Koala is not running or the location is outside that window.
    std::optional<Location> locate(Point location);

private:
    void pressed(Point location);
    void released();

    Services services;
    ObservationToken monitor;
    bool held = false;
};

} // namespace tandem
