#pragma once

#include "base/Error.h"
#include "base/FileSystem.h"
#include "base/Json.h"
#include "platform/Workspace.h"
#include "tandem/profiles/KoalaMap.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tandem {

// The 64-pad profile that lets the MPC Touch play Koala, installed once per user into Koala's
// settings and MIDI map, with a backup and a receipt.
namespace KoalaMIDIProfile {

inline constexpr const char* errorDomain = "Tandem.KoalaProfile";
inline constexpr const char* revision = "mpc-64-v1";

// The 71 map entries of the profile, in order.
const std::vector<KoalaMapEntry>& entries();
// {"address": address, "key": {"channel", "type", "value"}}
Json::Value entry(const std::string& address, int64_t channel, const std::string& type, int64_t value);
// "channel/type/value" of an entry's key ("?" for a missing part), or "invalid".
std::string signature(const Json::Value& entry);

// "Library/Application Support/Tandem/mpc-64-v1.json" under the home folder.
std::filesystem::path receiptPath();

// Installs the profile into `settings` ("defaults.json", "midiMapping.json"). True when Koala's
// files changed, false when the receipt already exists.
Result<bool> install(const std::filesystem::path& settings, const std::filesystem::path& receipt,
                     const std::function<bool()>& isRunning, FileSystem& disk = FileSystem::local());

// Installs into the user's Koala settings and logs a successful installation.
Result<bool> prepare(Workspace& workspace);

// Runs the installation in a scratch folder and checks what it wrote.
Result<bool> offlineSelfCheck();

} // namespace KoalaMIDIProfile

} // namespace tandem
