#pragma once

#include "base/Error.h"
#include "base/Queue.h"
#include "platform/Geometry.h"
#include "platform/SampleBuffer.h"
#include "platform/VideoFrame.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace tandem {

// What a stream captures: one display, showing only one process's windows, through the window the
// caller aims at. Rectangles are in display coordinates (origin top-left of the first screen, y down).
struct ScreenCaptureTarget {
    uint32_t display = 0; // the screen's number
    Rect displayBounds;
    int32_t process = 0;
    uint32_t window = 0; // the window server's number
    Rect windowBounds;

    bool operator==(const ScreenCaptureTarget&) const = default;
};

// How a stream captures: the part of the display (relative to its top-left), the size of the
// delivered pictures, the fastest frame rate, and whether sound comes too.
struct ScreenStreamConfiguration {
    bool capturesAudio = false;
    bool excludesCurrentProcessAudio = true;
    int sampleRate = 48000;
    int channelCount = 2;
    Rect sourceRect;
    int width = 64;
    int height = 64;
    double minimumFrameInterval = 1.0;
    int queueDepth = 5;
    bool showsCursor = true;

    bool operator==(const ScreenStreamConfiguration&) const = default;
};

// Called on the stream's queue: whole frames only, sound when asked for, and once when the stream
// stops by itself with the reason.
struct ScreenStreamHandlers {
    std::function<void(std::shared_ptr<const VideoFrame>)> onFrame;
    std::function<void(const SampleBuffer&)> onAudio;
    std::function<void(const Error&)> onStop;
};

class ScreenStream {
public:
    virtual ~ScreenStream() = default;
    // `done` receives nothing once capturing, else the error; once, on any thread.
    virtual void start(std::function<void(std::optional<Error>)> done) = 0;
    // Moves the stream to another target (a new display or window) and configuration.
    virtual void update(const ScreenCaptureTarget& target,
                        const ScreenStreamConfiguration& configuration) = 0;
    // Safe twice and before `start` completed; no handler is called after it returns.
    virtual void stop() = 0;
};

class ScreenCapture {
public:
    virtual ~ScreenCapture() = default;

    // Whether shareable content can be listed now (a window system that answers, permission given).
    virtual bool contentAvailable() = 0;
    virtual std::shared_ptr<ScreenStream> makeStream(const ScreenCaptureTarget& target,
                                                     const ScreenStreamConfiguration& configuration,
                                                     std::shared_ptr<Queue> queue,
                                                     ScreenStreamHandlers handlers) = 0;
};

} // namespace tandem
