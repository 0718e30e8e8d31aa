#include "tandem/webcam/sources/WebcamMonitor.h"

#include "tandem/webcam/sources/WebcamAudioOutputs.h"

namespace tandem {

WebcamMonitor::WebcamMonitor(AudioOutputs& outputs, const std::optional<std::string>& deviceUID)
    : player(outputs.makePlayer(deviceUID ? WebcamAudioOutputs::id(outputs, *deviceUID) : std::nullopt)) {}

WebcamMonitor::~WebcamMonitor() {
    close();
}

void WebcamMonitor::play(const SampleBuffer& buffer) {
    if (buffer.format != SampleBuffer::Format::float32 || buffer.frames == 0 || buffer.channels < 1 ||
        !(buffer.rate > 0))
        return;
    std::lock_guard playing(playerLock);
    if (!player || closed) return;
    const std::pair<double, int> wanted{buffer.rate, buffer.channels};
    if (!isRunning || format != wanted) {
        stopPlayer();
        if (!player->start(buffer.rate, buffer.channels)) return;
        isRunning = true;
        format = wanted;
    }
    {
        std::lock_guard guard(state->lock);
        if (state->pending > maxPending) return;
        ++state->pending;
    }
    std::weak_ptr<State> weak = state;
    player->schedule(buffer, [weak] {
        if (auto shared = weak.lock()) {
            std::lock_guard guard(shared->lock);
            if (shared->pending > 0) --shared->pending;
        }
    });
}

void WebcamMonitor::stopPlayer() {
    if (!isRunning) return;
    isRunning = false;
    format.reset();
    player->stop();
}

void WebcamMonitor::stop() {
    std::lock_guard playing(playerLock);
    stopPlayer();
}

void WebcamMonitor::close() {
    std::lock_guard playing(playerLock);
    closed = true;
    stopPlayer();
}

int WebcamMonitor::pending() {
    std::lock_guard guard(state->lock);
    return state->pending;
}

bool WebcamMonitor::running() {
    std::lock_guard playing(playerLock);
    return isRunning;
}

} // namespace tandem
