#pragma once

#include "platform/AudioOutputs.h"
#include "platform/AudioTap.h"

#include <string>

namespace tandem {

// A process's own sound on PulseAudio: its sink input (found by "application.process.id") recorded
// alone through a monitor stream of its sink. A monitor stream carries the input after its volume
// and mute, so the input is never muted to silence it: with LISTEN it is moved to a null sink of
// Tandem's own, recorded from that sink's monitor, the processed sound played on the listen output,
// and moved back on stop.
class PulseAudioTaps final : public AudioTaps {
public:
    Result<std::shared_ptr<AudioTapSession>> open(const AudioTapRequest& request, Cycle cycle) override;
};

// PulseAudio's sinks as output devices (id = the sink's index, UID = its name), and a playback
// stream per player.
class PulseAudioOutputs final : public AudioOutputs {
public:
    std::vector<AudioOutputDevice> devices() override;
    std::unique_ptr<AudioPlayer> makePlayer(std::optional<uint32_t> device) override;
};

} // namespace tandem
