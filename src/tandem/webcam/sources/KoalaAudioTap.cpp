#include "tandem/webcam/sources/KoalaAudioTap.h"

#include "tandem/webcam/sources/WebcamSourceTexts.h"

namespace tandem {

Result<std::shared_ptr<KoalaAudioTap>> KoalaAudioTap::make(AudioTaps& taps, int32_t pid, bool listen,
                                                           const std::string& outputUID, OnAudio onAudio) {
    auto tap = std::make_shared<KoalaAudioTap>(listen, std::move(onAudio));
    std::weak_ptr<KoalaAudioTap> weak = tap;
    auto session = taps.open({pid, listen, outputUID},
                             [weak](const SampleBuffer& buffer) -> std::optional<SampleBuffer> {
                                 auto self = weak.lock();
                                 if (!self) return std::nullopt;
                                 return self->cycle(buffer);
                             });
    if (!session) return WebcamSourceTexts::audioTap(session.error());
    std::lock_guard guard(tap->lock);
    tap->session = std::move(session.value());
    return tap;
}

KoalaAudioTap::KoalaAudioTap(bool listen, OnAudio onAudio)
    : listen(listen)
    , onAudio(std::move(onAudio)) {}

std::optional<SampleBuffer> KoalaAudioTap::cycle(const SampleBuffer& buffer) {
    OnAudio handler;
    {
        std::lock_guard guard(lock);
        handler = onAudio;
    }
    if (!handler) return std::nullopt;
    auto processed = handler(buffer);
    // Without LISTEN nothing is played back: Koala stays audible by itself.
    if (!listen) return std::nullopt;
    return processed;
}

void KoalaAudioTap::stop() {
    std::shared_ptr<AudioTapSession> ending;
    {
        std::lock_guard guard(lock);
        ending = std::move(session);
        onAudio = nullptr;
    }
    if (ending) ending->stop();
}

} // namespace tandem
