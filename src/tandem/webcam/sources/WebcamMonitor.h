#pragma once

#include "platform/AudioOutputs.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace tandem {

// LISTEN: plays the processed sound on the chosen output (the default output when the UID is unknown
// or none). It never queues more than a few buffers: a player that falls behind drops buffers rather
// than delaying the sound further.
class WebcamMonitor {
public:
    static constexpr int maxPending = 5;

    WebcamMonitor(AudioOutputs& outputs, const std::optional<std::string>& deviceUID);
    ~WebcamMonitor();

    // Float buffers with at least one frame only; from the audio source's queue.
    void play(const SampleBuffer& buffer);
    // Stops the player; a later `play` starts it again.
    void stop();

    // Buffers scheduled and not yet played.
    int pending();
    bool running();

private:
    struct State {
        std::mutex lock;
        int pending = 0;
    };
    std::shared_ptr<State> state = std::make_shared<State>();
    std::unique_ptr<AudioPlayer> player; // guarded by state->lock
    std::optional<std::pair<double, int>> format;
    bool isRunning = false;
};

} // namespace tandem
