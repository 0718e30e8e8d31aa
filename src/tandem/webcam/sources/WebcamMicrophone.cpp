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

void WebcamMicrophone::stop() {
    queue->async([microphone = microphone] { microphone->stop(); });
}

} // namespace tandem
