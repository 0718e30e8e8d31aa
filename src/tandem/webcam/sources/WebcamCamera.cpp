#include "tandem/webcam/sources/WebcamCamera.h"

#include "tandem/webcam/sources/WebcamSourceTexts.h"

namespace tandem {

Result<std::shared_ptr<WebcamCamera>> WebcamCamera::open(Cameras& cameras, const CameraDevice& device,
                                                         std::shared_ptr<Queue> queue) {
    auto opened = cameras.open(device);
    if (!opened) return WebcamSourceTexts::camera(opened.error(), device.name);
    return std::make_shared<WebcamCamera>(std::move(opened.value()), std::move(queue));
}

WebcamCamera::WebcamCamera(std::shared_ptr<Camera> camera, std::shared_ptr<Queue> queue)
    : camera(std::move(camera))
    , queue(std::move(queue)) {}

// The port's camera outlives the queued step even when this object is dropped right after.
void WebcamCamera::start() {
    queue->async([camera = camera] { camera->start(); });
}

// Waits for the stop, so the device is free when the studio opens a camera right after.
void WebcamCamera::stop() {
    queue->sync([camera = camera] { camera->stop(); });
}

std::shared_ptr<const VideoFrame> WebcamCamera::latest() {
    return camera->latest();
}

uint64_t WebcamCamera::count() {
    return camera->count();
}

} // namespace tandem
