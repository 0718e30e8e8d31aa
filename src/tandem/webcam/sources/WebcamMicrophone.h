#pragma once

#include "base/Queue.h"
#include "platform/Microphones.h"

#include <functional>
#include <memory>

namespace tandem {

// A microphone as the studio sees it: started and stopped on its queue ("Tandem audio input"),
// every buffer (float, interleaved, 48 kHz stereo, on the host clock) handed to `onAudio` there.
class WebcamMicrophone {
public:
    // The microphone, or an error ("Tandem.Webcam", 1) in the studio's words.
    static Result<std::shared_ptr<WebcamMicrophone>> open(Microphones& microphones,
                                                          const AudioInputDevice& device,
                                                          std::shared_ptr<Queue> queue,
                                                          std::function<void(const SampleBuffer&)> onAudio);

    void start();
    void stop();

    WebcamMicrophone(std::shared_ptr<Microphone> microphone, std::shared_ptr<Queue> queue);

private:
    std::shared_ptr<Microphone> microphone;
    std::shared_ptr<Queue> queue;
};

} // namespace tandem
