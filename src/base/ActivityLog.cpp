#include "base/ActivityLog.h"

#include "base/Paths.h"
#include "base/ThreadQueue.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace tandem::ActivityLog {

namespace {

struct LogQueue {
    ThreadQueue queue{"Tandem.Log"};
    // Lines still waiting when the process exits are written, not dropped.
    ~LogQueue() {
        queue.sync([] {});
    }
};

ThreadQueue& logQueue() {
    static LogQueue shared;
    return shared.queue;
}

void append(const std::filesystem::path& file, const std::string& line) {
    std::error_code error;
    std::filesystem::create_directories(file.parent_path(), error);
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    const char* cursor = line.data();
    size_t left = line.size();
    while (left > 0) {
        ssize_t count = ::write(fd, cursor, left);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        cursor += count;
        left -= static_cast<size_t>(count);
    }
    ::close(fd);
}

} // namespace

std::string timestamp(std::chrono::system_clock::time_point time) {
    std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string path() {
    return (Paths::logs() / "Tandem.log").string();
}

void write(std::string_view message) {
    // The time and the file are taken now, on the caller, so the line says when it was written.
    std::string line = timestamp(std::chrono::system_clock::now());
    line.push_back(' ');
    line.append(message);
    line.push_back('\n');
    logQueue().async([file = std::filesystem::path(path()), line = std::move(line)] { append(file, line); });
}

void flush() {
    logQueue().sync([] {});
}

} // namespace tandem::ActivityLog
