#include "base/Paths.h"

#include <cstdlib>
#include <pwd.h>
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

} // namespace tandem::Paths
