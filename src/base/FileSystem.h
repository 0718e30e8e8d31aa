#pragma once

#include "base/Error.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tandem {

// What the file system says of a file without opening it.
struct FileAttributes {
    int64_t modified = 0;    // nanoseconds since 1970
    uint64_t size = 0;       // bytes
    uint64_t fileNumber = 0; // the inode; 0 when the file system has none
    bool operator==(const FileAttributes&) const = default;
};

// The file operations that Koala's file writers are built from. Writers take the file system as a
// parameter so that a simulated disk can fail any single step.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    // The file's bytes; a missing file is an error with code ENOENT.
    virtual Result<std::string> readFile(const std::filesystem::path& path) = 0;
    // At most the last `maxBytes` bytes of the file (all of a shorter one) into `bytes`, without
    // reading the rest; the caller's buffer is reused, so a reader polling a log allocates nothing.
    virtual Result<void> readTail(const std::filesystem::path& path, size_t maxBytes, std::string& bytes) = 0;
    virtual bool exists(const std::filesystem::path& path) = 0;
    virtual bool isDirectory(const std::filesystem::path& path) = 0;
    // Creates the folder and any missing parents; an existing folder is fine.
    virtual Result<void> createDirectories(const std::filesystem::path& path) = 0;
    // Creates or truncates the file, writes the bytes and flushes them to the disk.
    virtual Result<void> writeFile(const std::filesystem::path& path, std::string_view bytes) = 0;
    // Replaces `to` with `from` in one step (both in the same folder).
    virtual Result<void> rename(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
    // Removes a file or an empty folder; a missing one is fine.
    virtual Result<void> remove(const std::filesystem::path& path) = 0;
    // Removes a folder and everything in it; a missing one is fine.
    virtual Result<void> removeAll(const std::filesystem::path& path) = 0;
    // The names of a folder's entries, sorted; a missing folder gives none.
    virtual std::vector<std::string> list(const std::filesystem::path& folder) = 0;
    // Follows symbolic links at the last component until a path that is not one (a missing path is
    // returned as it is); a loop is an error.
    virtual Result<std::filesystem::path> resolveLinks(const std::filesystem::path& path) = 0;
    // The permission bits of an existing file, or nothing.
    virtual std::optional<uint32_t> permissions(const std::filesystem::path& path) = 0;
    virtual Result<void> setPermissions(const std::filesystem::path& path, uint32_t mode) = 0;
    // Flushes a folder's entries (a rename into it) to the disk.
    virtual Result<void> syncFolder(const std::filesystem::path& folder) = 0;
    // Modification date, size and file number (following links); nothing when they cannot be read.
    virtual std::optional<FileAttributes> attributes(const std::filesystem::path& path) = 0;

    // The machine's own disk.
    static FileSystem& local();
};

// The machine's disk through POSIX calls.
class LocalFileSystem final : public FileSystem {
public:
    Result<std::string> readFile(const std::filesystem::path& path) override;
    Result<void> readTail(const std::filesystem::path& path, size_t maxBytes, std::string& bytes) override;
    bool exists(const std::filesystem::path& path) override;
    bool isDirectory(const std::filesystem::path& path) override;
    Result<void> createDirectories(const std::filesystem::path& path) override;
    Result<void> writeFile(const std::filesystem::path& path, std::string_view bytes) override;
    Result<void> rename(const std::filesystem::path& from, const std::filesystem::path& to) override;
    Result<void> remove(const std::filesystem::path& path) override;
    Result<void> removeAll(const std::filesystem::path& path) override;
    std::vector<std::string> list(const std::filesystem::path& folder) override;
    Result<std::filesystem::path> resolveLinks(const std::filesystem::path& path) override;
    std::optional<uint32_t> permissions(const std::filesystem::path& path) override;
    Result<void> setPermissions(const std::filesystem::path& path, uint32_t mode) override;
    Result<void> syncFolder(const std::filesystem::path& folder) override;
    std::optional<FileAttributes> attributes(const std::filesystem::path& path) override;
};

} // namespace tandem
