#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tandem {

struct RunningApplication {
    std::string bundleIdentifier;
    int32_t processIdentifier = 0;
    bool terminated = false;
    std::string localizedName;

    bool operator==(const RunningApplication&) const = default;
};

// The running applications of the user's session, as the platform's workspace lists them.
class Workspace {
public:
    virtual ~Workspace() = default;

    virtual std::vector<RunningApplication> runningApplications() = 0;
};

} // namespace tandem
