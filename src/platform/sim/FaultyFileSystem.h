#pragma once

#include "base/FileSystem.h"

#include <functional>
#include <map>
#include <string>

namespace tandem {

// The machine's disk with failures on demand: a simulated disk full, a folder that vanishes, a rename
// that is refused. Everything not made to fail goes through to the real disk.
class FaultyFileSystem final : public FileSystem {
public:
    enum class Operation { read, createDirectories, write, rename, remove, setPermissions, syncFolder };

    explicit FaultyFileSystem(FileSystem& disk = FileSystem::local())
        : disk(disk) {}

    // The `nth` (1-based) call of `operation` from now fails with `code` (an errno value).
    void failCall(Operation operation, int nth, int code = 28 /* ENOSPC */);
    // Every call of `operation` on a path whose file name is `name` fails from now on.
    void failPath(Operation operation, const std::string& name, int code = 28);
    // Called just before each operation with the operation and its path: lets a test change the
    // world at an exact step (Koala starts, another program writes a file).
    std::function<void(Operation, const std::filesystem::path&)> beforeEach;

    int calls(Operation operation) const;
    void reset();

    Result<std::string> readFile(const std::filesystem::path& path) override;
    Result<void> readTail(const std::filesystem::path& path, size_t maxBytes, std::string& bytes) override;
    bool exists(const std::filesystem::path& path) override { return disk.exists(path); }
    bool isDirectory(const std::filesystem::path& path) override { return disk.isDirectory(path); }
    Result<void> createDirectories(const std::filesystem::path& path) override;
    Result<void> writeFile(const std::filesystem::path& path, std::string_view bytes) override;
    Result<void> rename(const std::filesystem::path& from, const std::filesystem::path& to) override;
    Result<void> remove(const std::filesystem::path& path) override;
    Result<void> removeAll(const std::filesystem::path& path) override { return disk.removeAll(path); }
    std::vector<std::string> list(const std::filesystem::path& folder) override { return disk.list(folder); }
    Result<std::filesystem::path> resolveLinks(const std::filesystem::path& path) override {
        return disk.resolveLinks(path);
    }
    std::optional<uint32_t> permissions(const std::filesystem::path& path) override {
        return disk.permissions(path);
    }
    Result<void> setPermissions(const std::filesystem::path& path, uint32_t mode) override;
    Result<void> syncFolder(const std::filesystem::path& folder) override;
    std::optional<FileAttributes> attributes(const std::filesystem::path& path) override {
        return disk.attributes(path);
    }

private:
    // The errno to fail with, or 0 to go through.
    int check(Operation operation, const std::filesystem::path& path);

    FileSystem& disk;
    std::map<Operation, int> counts;
    std::map<Operation, std::map<int, int>> failingCalls;
    std::map<Operation, std::map<std::string, int>> failingNames;
};

} // namespace tandem
