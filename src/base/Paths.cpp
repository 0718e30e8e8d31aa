#include "base/Paths.h"

#include <cstdlib>
#include <pwd.h>
#include <system_error>
#include <unistd.h>

namespace tandem::Paths {

std::filesystem::path home() {
    if (const char* value = std::getenv("HOME"); value && *value) return value;
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return "/";
}

std::filesystem::path koalaSampler() {
    return home() / "Music" / "Koala Sampler";
}
std::filesystem::path koalaSettings() {
    return koalaSampler() / "settings";
}
std::filesystem::path koalaSong() {
    return koalaSampler() / "default";
}
std::filesystem::path logs() {
    return home() / "Library" / "Logs";
}
std::filesystem::path applicationSupport() {
    return home() / "Library" / "Application Support" / "Tandem";
}

std::filesystem::path resources() {
    if (const char* value = std::getenv("TANDEM_RESOURCES"); value && *value) return value;
    std::error_code error;
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        for (const auto& candidate :
             {program.parent_path() / "resources", program.parent_path().parent_path() / "resources"}) {
            if (std::filesystem::is_directory(candidate, error)) return candidate;
        }
    }
    return TANDEM_BUILD_RESOURCES;
}

} // namespace tandem::Paths
