#pragma once

#include "platform/Workspace.h"

#include <filesystem>
#include <map>
#include <string>

namespace tandem {

// Running applications read from /proc. Linux has no bundle identifiers, so each identifier Tandem
// asks about is matched to the executable names that stand for it.
class LinuxWorkspace final : public Workspace {
public:
    // bundle identifier → executable name (as /proc/<pid>/comm shows it)
    using Names = std::multimap<std::string, std::string>;

    explicit LinuxWorkspace(Names names = defaultNames(), std::filesystem::path proc = "/proc");

    std::vector<RunningApplication> runningApplications() override;

    static Names defaultNames();

private:
    Names names;
    std::filesystem::path proc;
};

} // namespace tandem
