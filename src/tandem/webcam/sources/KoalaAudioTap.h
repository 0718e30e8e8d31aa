#pragma once

#include "platform/AudioTap.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace tandem {

// Koala's own process sound, tapped alone. Every buffer goes to `onAudio` on the tap's queue; what
// it returns is played on the listen output when `listen` is on (Koala's own output is silenced
// meanwhile). Running from construction until `stop`.
class KoalaAudioTap {
public:
    using OnAudio = std::function<std::optional<SampleBuffer>(const SampleBuffer&)>;

    // The running tap, or an error ("Tandem.AudioTap", 1) in the studio's words.
    static Result<std::shared_ptr<KoalaAudioTap>> make(AudioTaps& taps, int32_t pid, bool listen,
                                                       const std::string& outputUID, OnAudio onAudio);

    const bool listen;

    // Safe twice; no buffer reaches `onAudio` after it returns.
    void stop();

    KoalaAudioTap(bool listen, OnAudio onAudio);

private:
    std::optional<SampleBuffer> cycle(const SampleBuffer& buffer);

    std::mutex lock;
    OnAudio onAudio;
    std::shared_ptr<AudioTapSession> session;
};

} // namespace tandem
