#pragma once

#include "base/Error.h"

#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tandem {

// The one-shot jobs the program runs instead of the application, chosen by its first argument.
namespace CommandLine {

// The checks of the self-check, in their order. Each answers pass/fail or raises an error.
struct SelfChecks {
    std::function<Result<bool>()> mpcProfile;
    std::function<bool()> padMapper;
    std::function<bool()> controlRouter;
    std::function<bool()> midiPackets;
    std::function<bool()> overlay;
    std::function<Result<bool>()> pushProfile;

    // The real checks; none of them touches the user's Koala files.
    static SelfChecks standard();
};

// The artwork jobs, each writing into the file or folder it is given. They draw, so the program
// supplies them with a graphics application alive.
struct RenderJobs {
    using Job = std::function<Result<void>(const std::filesystem::path&)>;
    Job push;         // "--render-push": the Push 2 preview artwork, into a folder
    Job icons;        // "--render-icon": the icon set, into a folder
    Job controls;     // "--render-controls": the overlay's preview picture, a file
    Job installerArt; // "--render-installer-art": the installer's backgrounds, into a folder
    Job card;         // "--render-card": a status card, a file
};

// The exit status when the arguments name a job (after running it), nothing when the application
// should start. `arguments` includes the program name. A render option runs only with exactly one
// path after it (and a job for it); otherwise the application starts.
std::optional<int> run(const std::vector<std::string>& arguments, std::FILE* out = stdout,
                       std::FILE* err = stderr, const SelfChecks& checks = SelfChecks::standard(),
                       const RenderJobs& renders = {});

// Prints the six PASS lines of a passing self-check; the first failure goes to `err` as "Tandem: " +
// its description. Returns the exit status.
int selfCheck(const SelfChecks& checks, std::FILE* out, std::FILE* err);

} // namespace CommandLine

} // namespace tandem
