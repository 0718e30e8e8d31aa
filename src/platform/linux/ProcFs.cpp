#include "platform/linux/ProcFs.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace tandem::procfs {

namespace fs = std::filesystem;

namespace {

constexpr size_t commLimit = 15;
constexpr size_t nameLimit = 63;

bool isNumber(const char* name) {
    if (!*name) return false;
    for (const char* c = name; *c; ++c)
        if (*c < '0' || *c > '9') return false;
    return true;
}

template <class F> void forEachNumbered(const fs::path& folder, F&& fn) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    while (dirent* entry = ::readdir(dir)) {
        if (isNumber(entry->d_name)) fn(entry->d_name);
    }
    ::closedir(dir);
}

} // namespace

std::optional<std::string> readSmall(const fs::path& file, size_t limit) {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string bytes(limit, '\0');
    size_t used = 0;
    while (used < limit) {
        ssize_t got = ::read(fd, bytes.data() + used, limit - used);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        used += size_t(got);
    }
    ::close(fd);
    bytes.resize(used);
    return bytes;
}

std::string processName(const fs::path& proc, int32_t pid) {
    const fs::path process = proc / std::to_string(pid);
    auto comm = readSmall(process / "comm", 64);
    if (!comm) return {};
    std::string name = comm->substr(0, comm->find('\n'));
    if (name.size() >= commLimit) {
        if (auto line = readSmall(process / "cmdline", 1024)) {
            std::string program = line->substr(0, line->find('\0'));
            std::string base =
                program.substr(program.rfind('/') == std::string::npos ? 0 : program.rfind('/') + 1);
            if (base.size() > name.size() && base.compare(0, name.size(), name) == 0) name = base;
        }
    }
    if (name.size() > nameLimit) name.resize(nameLimit);
    return name;
}

std::vector<ProcessEntry> list(const fs::path& proc) {
    std::vector<ProcessEntry> entries;
    forEachNumbered(proc, [&](const char* number) {
        int32_t pid = int32_t(std::strtol(number, nullptr, 10));
        std::string name = processName(proc, pid);
        if (!name.empty()) entries.push_back({pid, std::move(name)});
    });
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.pid < b.pid; });
    return entries;
}

std::optional<uint64_t> cpuTime(const fs::path& proc, int32_t pid) {
    if (pid <= 0) return std::nullopt;
    auto stat = readSmall(proc / std::to_string(pid) / "stat", 1024);
    if (!stat) return std::nullopt;
    // The name in parentheses may hold blanks and parentheses: the fields start after the last ')'.
    size_t close = stat->rfind(')');
    if (close == std::string::npos) return std::nullopt;
    const char* at = stat->c_str() + close + 1;
    // After the name: state, then fields 4 to 13, then utime (14) and stime (15).
    unsigned long long ticks[2] = {0, 0};
    for (int field = 3; field <= 15; ++field) {
        while (*at == ' ')
            ++at;
        if (!*at) return std::nullopt;
        char* end = nullptr;
        unsigned long long value = std::strtoull(at, &end, 10);
        if (field >= 14) ticks[field - 14] = value;
        while (*at && *at != ' ')
            ++at;
    }
    static const long perSecond = ::sysconf(_SC_CLK_TCK) > 0 ? ::sysconf(_SC_CLK_TCK) : 100;
    unsigned long long total = ticks[0] + ticks[1];
    return uint64_t(total / perSecond * 1000000000ull + total % perSecond * 1000000000ull / perSecond);
}

std::vector<int32_t> holders(const fs::path& proc, const std::string& file) {
    std::vector<int32_t> found;
    char target[4096];
    forEachNumbered(proc, [&](const char* number) {
        const fs::path descriptors = proc / number / "fd";
        bool holds = false;
        forEachNumbered(descriptors, [&](const char* descriptor) {
            if (holds) return;
            ssize_t length = ::readlink((descriptors / descriptor).c_str(), target, sizeof target - 1);
            if (length <= 0) return;
            target[length] = '\0';
            holds = file == target;
        });
        if (holds) found.push_back(int32_t(std::strtol(number, nullptr, 10)));
    });
    std::sort(found.begin(), found.end());
    return found;
}

} // namespace tandem::procfs
