#pragma once

#include <filesystem>

namespace tandem::Paths {

// The user's home folder: $HOME, else the password database's entry. Tests point HOME at a scratch
// folder, so everything below follows it.
std::filesystem::path home();

// "Music/Koala Sampler" under the home folder.
std::filesystem::path koalaSampler();
// Koala's settings folder, "Music/Koala Sampler/settings".
std::filesystem::path koalaSettings();
// The folder of Koala's current song, "Music/Koala Sampler/default".
std::filesystem::path koalaSong();
// "Library/Logs" under the home folder.
std::filesystem::path logs();
// "Library/Application Support/Tandem" under the home folder.
std::filesystem::path applicationSupport();

// Tandem's own resources (its fonts, its copy of the touch driver): $TANDEM_RESOURCES when set, else
// the folder "resources" beside the program or one level above it, else the build tree's.
std::filesystem::path resources();

} // namespace tandem::Paths
