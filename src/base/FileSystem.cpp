#include "base/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tandem {

namespace fs = std::filesystem;

FileSystem& FileSystem::local() {
    static LocalFileSystem disk;
    return disk;
}

Result<std::string> LocalFileSystem::readFile(const fs::path& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return posixError("Could not read " + path.string(), errno);
    std::string bytes;
    char buffer[65536];
    for (;;) {
        ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count == 0) break;
        if (count < 0) {
            if (errno == EINTR) continue;
            int code = errno;
            ::close(fd);
            return posixError("Could not read " + path.string(), code);
        }
        bytes.append(buffer, static_cast<size_t>(count));
    }
    ::close(fd);
    return bytes;
}

Result<void> LocalFileSystem::readTail(const fs::path& path, size_t maxBytes, std::string& bytes) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return posixError("Could not read " + path.string(), errno);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        int code = errno;
        ::close(fd);
        return posixError("Could not read " + path.string(), code);
    }
    off_t size = info.st_size;
    off_t start = size > off_t(maxBytes) ? size - off_t(maxBytes) : 0;
    bytes.resize(size_t(size - start));
    size_t filled = 0;
    while (filled < bytes.size()) {
        ssize_t count = ::pread(fd, bytes.data() + filled, bytes.size() - filled, start + off_t(filled));
        if (count == 0) break; // the file shrank meanwhile
        if (count < 0) {
            if (errno == EINTR) continue;
            int code = errno;
            ::close(fd);
            return posixError("Could not read " + path.string(), code);
        }
        filled += size_t(count);
    }
    ::close(fd);
    bytes.resize(filled);
    return {};
}

bool LocalFileSystem::exists(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

bool LocalFileSystem::isDirectory(const fs::path& path) {
    std::error_code error;
    return fs::is_directory(path, error);
}

Result<void> LocalFileSystem::createDirectories(const fs::path& path) {
    std::error_code error;
    fs::create_directories(path, error);
    if (error || !fs::is_directory(path)) {
        return posixError("Could not create the folder " + path.string(), error ? error.value() : ENOTDIR);
    }
    return {};
}

Result<void> LocalFileSystem::writeFile(const fs::path& path, std::string_view bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return posixError("Could not write " + path.string(), errno);
    const char* cursor = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        ssize_t count = ::write(fd, cursor, left);
        if (count < 0) {
            if (errno == EINTR) continue;
            int code = errno;
            ::close(fd);
            return posixError("Could not write " + path.string(), code);
        }
        cursor += count;
        left -= static_cast<size_t>(count);
    }
    if (::fsync(fd) != 0) {
        int code = errno;
        ::close(fd);
        return posixError("Could not write " + path.string(), code);
    }
    if (::close(fd) != 0) return posixError("Could not write " + path.string(), errno);
    return {};
}

Result<void> LocalFileSystem::rename(const fs::path& from, const fs::path& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) return posixError("Could not replace " + to.string(), errno);
    return {};
}

Result<void> LocalFileSystem::remove(const fs::path& path) {
    std::error_code error;
    fs::remove(path, error);
    if (error) return posixError("Could not remove " + path.string(), error.value());
    return {};
}

Result<void> LocalFileSystem::removeAll(const fs::path& path) {
    std::error_code error;
    fs::remove_all(path, error);
    if (error) return posixError("Could not remove " + path.string(), error.value());
    return {};
}

std::vector<std::string> LocalFileSystem::list(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

Result<fs::path> LocalFileSystem::resolveLinks(const fs::path& path) {
    fs::path at = path;
    for (int hops = 0; hops <= 40; ++hops) {
        struct stat info {};
        if (::lstat(at.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return at;
        char target[PATH_MAX];
        ssize_t length = ::readlink(at.c_str(), target, sizeof target);
        if (length < 0) return posixError("Could not read the link " + at.string(), errno);
        if (size_t(length) >= sizeof target)
            return posixError("Could not read the link " + at.string(), ENAMETOOLONG);
        fs::path next(std::string(target, size_t(length)));
        // Not normalised: ".." after a linked folder means that folder's parent, as the kernel sees it.
        at = next.is_absolute() ? next : at.parent_path() / next;
    }
    return posixError("Could not follow the link " + path.string(), ELOOP);
}

std::optional<uint32_t> LocalFileSystem::permissions(const fs::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return uint32_t(info.st_mode & 07777);
}

Result<void> LocalFileSystem::setPermissions(const fs::path& path, uint32_t mode) {
    if (::chmod(path.c_str(), mode_t(mode)) != 0)
        return posixError("Could not set the permissions of " + path.string(), errno);
    return {};
}

Result<void> LocalFileSystem::syncFolder(const fs::path& folder) {
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return posixError("Could not sync the folder " + folder.string(), errno);
    int result = ::fsync(fd);
    int code = errno;
    ::close(fd);
    if (result != 0) return posixError("Could not sync the folder " + folder.string(), code);
    return {};
}

std::optional<FileAttributes> LocalFileSystem::attributes(const fs::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return FileAttributes{int64_t(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec,
                          uint64_t(info.st_size), uint64_t(info.st_ino)};
}

} // namespace tandem
