#pragma once

#include "base/Queue.h"
#include "platform/Cameras.h"

#include <memory>
#include <mutex>

namespace tandem {

// The camera as the studio sees it: opened on the studio's setup queue, started and stopped on its
// own queue ("Tandem camera"), its newest BGRA frame and frame count read from any thread (the
// studio compares the count between ticks to notice new frames).
class WebcamCamera {
public:
    // The camera, or an error ("Tandem.Webcam", 1) in the studio's words.
    static Result<std::shared_ptr<WebcamCamera>> open(Cameras& cameras, const CameraDevice& device,
                                                      std::shared_ptr<Queue> queue);

    void start();
    void stop();
    std::shared_ptr<const VideoFrame> latest();
    uint64_t count();

    WebcamCamera(std::shared_ptr<Camera> camera, std::shared_ptr<Queue> queue);

private:
    std::shared_ptr<Camera> camera;
    std::shared_ptr<Queue> queue;
};

} // namespace tandem
