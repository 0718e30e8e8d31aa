#include "platform/sim/FaultyFileSystem.h"

namespace tandem {

namespace fs = std::filesystem;

void FaultyFileSystem::failCall(Operation operation, int nth, int code) {
    failingCalls[operation][counts[operation] + nth] = code;
}

void FaultyFileSystem::failPath(Operation operation, const std::string& name, int code) {
    failingNames[operation][name] = code;
}

int FaultyFileSystem::calls(Operation operation) const {
    auto found = counts.find(operation);
    return found == counts.end() ? 0 : found->second;
}

void FaultyFileSystem::reset() {
    counts.clear();
    failingCalls.clear();
    failingNames.clear();
    beforeEach = nullptr;
}

int FaultyFileSystem::check(Operation operation, const fs::path& path) {
    if (beforeEach) beforeEach(operation, path);
    int call = ++counts[operation];
    if (auto found = failingCalls[operation].find(call); found != failingCalls[operation].end())
        return found->second;
    auto& names = failingNames[operation];
    if (auto found = names.find(path.filename().string()); found != names.end()) return found->second;
    return 0;
}

Result<std::string> FaultyFileSystem::readFile(const fs::path& path) {
    if (int code = check(Operation::read, path)) return posixError("Could not read " + path.string(), code);
    return disk.readFile(path);
}

Result<void> FaultyFileSystem::readTail(const fs::path& path, size_t maxBytes, std::string& bytes) {
    if (int code = check(Operation::read, path)) return posixError("Could not read " + path.string(), code);
    return disk.readTail(path, maxBytes, bytes);
}

Result<void> FaultyFileSystem::createDirectories(const fs::path& path) {
    if (int code = check(Operation::createDirectories, path)) {
        return posixError("Could not create the folder " + path.string(), code);
    }
    return disk.createDirectories(path);
}

Result<void> FaultyFileSystem::writeFile(const fs::path& path, std::string_view bytes) {
    if (int code = check(Operation::write, path)) return posixError("Could not write " + path.string(), code);
    return disk.writeFile(path, bytes);
}

Result<void> FaultyFileSystem::rename(const fs::path& from, const fs::path& to) {
    if (int code = check(Operation::rename, to)) return posixError("Could not replace " + to.string(), code);
    return disk.rename(from, to);
}

Result<void> FaultyFileSystem::remove(const fs::path& path) {
    if (int code = check(Operation::remove, path))
        return posixError("Could not remove " + path.string(), code);
    return disk.remove(path);
}

Result<void> FaultyFileSystem::setPermissions(const fs::path& path, uint32_t mode) {
    if (int code = check(Operation::setPermissions, path))
        return posixError("Could not set the permissions of " + path.string(), code);
    return disk.setPermissions(path, mode);
}

Result<void> FaultyFileSystem::syncFolder(const fs::path& folder) {
    if (int code = check(Operation::syncFolder, folder))
        return posixError("Could not sync the folder " + folder.string(), code);
    return disk.syncFolder(folder);
}

} // namespace tandem
