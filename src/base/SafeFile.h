#pragma once

#include "base/Error.h"
#include "base/FileSystem.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tandem::SafeFile {

// Writes a temporary file in the same folder, flushes it, gives it the old file's permissions, renames
// it over the file and flushes the folder. A symbolic link stays a link: the file it points to is
// replaced, in that file's folder. On any failure before the rename the temporary is removed and the
// old file is left exactly as it was.
Result<void> atomicWrite(const std::filesystem::path& path, std::string_view bytes,
                         FileSystem& disk = FileSystem::local());

// A file as it was read: its bytes, or nothing when it did not exist.
struct Snapshot {
    std::filesystem::path path;
    std::optional<std::string> bytes;

    bool existed() const { return bytes.has_value(); }
    // Still exactly these bytes, or still missing.
    bool unchanged(FileSystem& disk = FileSystem::local()) const;
};

// Reads a file that may be missing; any other read error is raised.
Result<Snapshot> capture(const std::filesystem::path& path, FileSystem& disk = FileSystem::local());

// Creates `parent`/`prefix`<new UUID> (with intermediate folders) and copies into it, under each
// file's own name, the bytes of every snapshot whose file existed. Returns the folder.
Result<std::filesystem::path> backup(const std::filesystem::path& parent, const std::string& prefix,
                                     const std::vector<const Snapshot*>& files,
                                     FileSystem& disk = FileSystem::local());

} // namespace tandem::SafeFile
