#pragma once

#include "base/Queue.h"
#include "platform/ScreenCapture.h"
#include "platform/Screens.h"
#include "platform/WindowServer.h"
#include "platform/Workspace.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace tandem {

// Koala's window (and, when asked, Koala's sound) through the screen-capture port. The window to
// capture is recomputed every 2 s while video runs, so a moved or resized Koala is followed. Only
// the newest frame is kept. Completions and stop notices reach the caller on the main queue.
class KoalaScreenCapture : public std::enable_shared_from_this<KoalaScreenCapture> {
public:
    struct Services {
        Workspace& workspace;
        WindowServer& windows;
        Screens& screens;
        ScreenCapture& capture;
        std::shared_ptr<Queue> main;
        std::shared_ptr<Queue> queue; // "Tandem screen capture": frames and sound arrive here
    };

    // What is captured: Koala's largest normal window, on the display holding its centre, as a
    // region of that display.
    struct Target {
        ScreenCaptureTarget target;
        Rect region; // relative to the display's top-left, inside it

        bool operator==(const Target&) const = default;
    };
    static std::optional<Target> findTarget(const std::vector<WindowInfo>& windows,
                                            const std::vector<Screen>& screens, int32_t koala);
    static ScreenStreamConfiguration configuration(const Rect& region, bool video, bool audio);

    explicit KoalaScreenCapture(Services services);
    ~KoalaScreenCapture();

    // Called on the stream's queue with Koala's sound, when sound was asked for.
    std::function<void(const SampleBuffer&)> onAudio;
    // Called on the main queue when the capture stops by itself.
    std::function<void(const std::string&)> onStop;

    // `done` receives nothing once running, or the message to show, on the main queue.
    void start(bool video, bool audio, std::function<void(std::optional<std::string>)> done);
    // Safe twice and before the start completed: a stream that starts afterwards is stopped at once.
    void stop();
    std::shared_ptr<const VideoFrame> latest();

    // Where the capture currently looks (for the studio's window and the tests).
    std::optional<Target> current();

    // Recomputes the target and moves the stream to it when it changed (every 2 s while running).
    void follow();

private:
    std::optional<int32_t> koalaProcess();
    void started(std::shared_ptr<ScreenStream> stream, Target target, std::optional<Error> error,
                 const std::function<void(std::optional<std::string>)>& done);

    Services services;
    std::mutex lock; // latest
    std::shared_ptr<const VideoFrame> newest;

    std::mutex stateLock; // what follows
    bool video = false;
    bool audio = false;
    bool stopped = false;
    std::shared_ptr<ScreenStream> stream;
    std::optional<Target> target;
    std::unique_ptr<Timer> refresh;
};

} // namespace tandem
