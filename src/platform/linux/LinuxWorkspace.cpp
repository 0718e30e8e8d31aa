#include "platform/linux/LinuxWorkspace.h"

#include <algorithm>
#include <cctype>
#include <fstream>

namespace tandem {

namespace fs = std::filesystem;

LinuxWorkspace::LinuxWorkspace(Names names, fs::path proc)
    : names(std::move(names))
    , proc(std::move(proc)) {}

LinuxWorkspace::Names LinuxWorkspace::defaultNames() {
    return {{"com.elf-audio.koala-mac", "koala"}, {"com.elf-audio.koala-mac", "Koala"}};
}

std::vector<RunningApplication> LinuxWorkspace::runningApplications() {
    std::vector<RunningApplication> running;
    std::error_code error;
    for (fs::directory_iterator it(proc, error), end; !error && it != end; it.increment(error)) {
        const std::string pid = it->path().filename().string();
        if (pid.empty() ||
            !std::all_of(pid.begin(), pid.end(), [](char c) { return std::isdigit(uint8_t(c)); })) {
            continue;
        }
        std::ifstream comm(it->path() / "comm");
        std::string command;
        if (!std::getline(comm, command)) continue; // the process ended meanwhile
        for (const auto& [bundle, executable] : names) {
            if (executable == command) {
                running.push_back({bundle, static_cast<int32_t>(std::stol(pid)), false, command});
            }
        }
    }
    return running;
}

} // namespace tandem
