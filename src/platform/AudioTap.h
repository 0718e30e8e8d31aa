#pragma once

#include "base/Error.h"
#include "base/Queue.h"
#include "platform/SampleBuffer.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tandem {

// Why a tap did not open, as Error codes in the domain "Tandem.Media.Tap".
enum class AudioTapFailure {
    notPlaying = 1, // the sound system knows no sound of that process (yet)
    denied = 2,     // the tap was refused
    format = 3,     // its format cannot be read
    output = 4,     // the listen output cannot be opened
    start = 5,      // capture would not start (no sound server)
};
inline Error audioTapError(AudioTapFailure failure, std::string description) {
    return {"Tandem.Media.Tap", int(failure), std::move(description)};
}

// One process's own sound, recorded alone, as a process tap: every cycle hands the tapped buffer to
// `cycle` on the tap's queue and plays what comes back on the listen output. With `listen` the
// process's own output is silenced while tapped (the processed sound replaces it); without it the
// process stays audible and the output is given silence.
struct AudioTapRequest {
    int32_t process = 0;
    bool listen = false;
    std::string outputUID; // empty: the default output
};

class AudioTapSession {
public:
    virtual ~AudioTapSession() = default;
    // Ends the tap and gives the process its sound back; safe twice.
    virtual void stop() = 0;
};

class AudioTaps {
public:
    virtual ~AudioTaps() = default;

    // `cycle` must not block: it runs on the tap's own thread or queue.
    using Cycle = std::function<std::optional<SampleBuffer>(const SampleBuffer&)>;
    virtual Result<std::shared_ptr<AudioTapSession>> open(const AudioTapRequest& request, Cycle cycle) = 0;
};

} // namespace tandem
