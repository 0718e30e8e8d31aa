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
    // Stops the player for good: a `play` already on its way when the studio swaps monitors does not
    // start it again.
    void close();

    // Buffers scheduled and not yet played.
    int pending();
    bool running();

private:
    void stopPlayer(); // playerLock held

    struct State {
        std::mutex lock;
        int pending = 0;
    };
    std::shared_ptr<State> state = std::make_shared<State>();
    // Every call into the player, from the audio queue and from the studio's setup queue, is made under
    // playerLock; the player's completions take only the state's lock, so a player that completes
    // dropped buffers inside `stop` cannot deadlock with it.
    std::mutex playerLock;
    std::unique_ptr<AudioPlayer> player;
    std::optional<std::pair<double, int>> format;
    bool isRunning = false;
    bool closed = false;
};

} // namespace tandem
