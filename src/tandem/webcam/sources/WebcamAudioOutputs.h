#pragma once

#include "platform/AudioOutputs.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tandem {

// The output devices LISTEN can play on.
namespace WebcamAudioOutputs {

// (UID, name) of every device with an output; empty when the list cannot be read.
std::vector<std::pair<std::string, std::string>> all(AudioOutputs& outputs);
// The device id for a UID, or nothing.
std::optional<uint32_t> id(AudioOutputs& outputs, const std::string& uid);

} // namespace WebcamAudioOutputs

} // namespace tandem
