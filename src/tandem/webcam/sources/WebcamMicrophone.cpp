#include "tandem/webcam/sources/WebcamMicrophone.h"

#include "tandem/webcam/sources/WebcamSourceTexts.h"

namespace tandem {

Result<std::shared_ptr<WebcamMicrophone>>
WebcamMicrophone::open(Microphones& microphones, const AudioInputDevice& device, std::shared_ptr<Queue> queue,
                       std::function<void(const SampleBuffer&)> onAudio) {
    auto opened = microphones.open(device, queue, std::move(onAudio));
    if (!opened) return WebcamSourceTexts::microphone(opened.error(), device.name);
    return std::make_shared<WebcamMicrophone>(std::move(opened.value()), std::move(queue));
}

WebcamMicrophone::WebcamMicrophone(std::shared_ptr<Microphone> microphone, std::shared_ptr<Queue> queue)
    : microphone(std::move(microphone))
    , queue(std::move(queue)) {}

void WebcamMicrophone::start() {
    queue->async([microphone = microphone] { microphone->start(); });
}

// Waits for the stop on the sound's queue: once it returns no buffer of this microphone is being
// handled or will be, so the next source never shares the sound chain with it.
void WebcamMicrophone::stop() {
    queue->sync([microphone = microphone] { microphone->stop(); });
}

} // namespace tandem
