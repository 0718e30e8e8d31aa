#pragma once

#include "base/Error.h"
#include "base/FileSystem.h"
#include "base/Json.h"
#include "platform/Workspace.h"
#include "tandem/profiles/KoalaMap.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tandem {

// Keeps Koala's MIDI map and MIDI settings right for the chosen controller every time Koala is about
// to be launched for it. The vocabulary and readers it shares with the MPC profile are in KoalaMap.h.
namespace KoalaPushProfile {

inline constexpr const char* errorDomain = "Tandem.KoalaPushProfile";

enum class Mode { mpcTouch, push2 };

struct Setting {
    std::string key;
    Json::Value value;
};
// The MIDI settings Koala needs for a mode, in a fixed order.
std::vector<Setting> requiredSettings(Mode mode);

// Gives every address of canonicalMap its key back, keeping what else the user learned and never
// leaving one key on two entries. Returns the addresses whose entry was written.
Result<std::vector<std::string>> repairMap(const std::filesystem::path& settings,
                                           const std::function<bool()>& isRunning,
                                           FileSystem& disk = FileSystem::local());

// Sets the mode's required settings; one "key = value" text per change. Nothing at all (and no
// error) when "defaults.json" cannot be read, is not a JSON object, or nests deeper than
// Json::maxDepth (too deep to handle counts as unreadable).
Result<std::optional<std::vector<std::string>>> enforceSettings(const std::filesystem::path& settings,
                                                                const std::function<bool()>& isRunning,
                                                                Mode mode,
                                                                FileSystem& disk = FileSystem::local());

// The message for the first learned mapping that would collide with a Push 2, if any.
std::optional<std::string>
pushInputConflict(const std::filesystem::path& koalaSampler = Paths::koalaSampler());

// True when Koala's files already satisfy the mode; writes nothing.
bool settingsMatch(Mode mode, const std::filesystem::path& koalaSampler = Paths::koalaSampler());

// The full preparation of the user's Koala for a mode, while Koala is closed.
Result<void> prepare(Mode mode, Workspace& workspace);

// Runs repairMap and enforceSettings in a scratch folder and checks what they wrote.
Result<bool> offlineSelfCheck();

} // namespace KoalaPushProfile

} // namespace tandem
