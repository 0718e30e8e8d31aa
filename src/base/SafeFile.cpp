#include "base/SafeFile.h"

#include "base/Uuid.h"

#include <cerrno>

namespace tandem::SafeFile {

namespace fs = std::filesystem;

Result<void> atomicWrite(const fs::path& path, std::string_view bytes, FileSystem& disk) {
    // Koala's settings may be a link into a synced folder; replacing the link would cut it off.
    auto resolved = disk.resolveLinks(path);
    if (!resolved) return resolved.error();
    const fs::path& file = *resolved;
    // A dot name keeps the temporary out of sight of anything scanning the folder.
    fs::path temporary = file.parent_path() / ("." + file.filename().string() + "." + Uuid::make() + ".tmp");
    auto abandon = [&](const Error& error) -> Result<void> {
        (void)disk.remove(temporary);
        return error;
    };
    if (auto written = disk.writeFile(temporary, bytes); !written) return abandon(written.error());
    if (auto mode = disk.permissions(file)) {
        if (auto kept = disk.setPermissions(temporary, *mode); !kept) return abandon(kept.error());
    }
    if (auto renamed = disk.rename(temporary, file); !renamed) return abandon(renamed.error());
    // Without this the rename itself may not survive a power cut, leaving the old file after all.
    return disk.syncFolder(file.parent_path());
}

bool Snapshot::unchanged(FileSystem& disk) const {
    if (!bytes) return !disk.exists(path);
    auto now = disk.readFile(path);
    return now && *now == *bytes;
}

Result<Snapshot> capture(const fs::path& path, FileSystem& disk) {
    auto bytes = disk.readFile(path);
    if (bytes) return Snapshot{path, std::move(bytes).value()};
    if (bytes.error().code == ENOENT && !disk.exists(path)) return Snapshot{path, std::nullopt};
    return bytes.error();
}

Result<fs::path> backup(const fs::path& parent, const std::string& prefix,
                        const std::vector<const Snapshot*>& files, FileSystem& disk) {
    fs::path folder = parent / (prefix + Uuid::make());
    if (auto made = disk.createDirectories(folder); !made) return made.error();
    for (const Snapshot* file : files) {
        if (!file->existed()) continue;
        if (auto copied = disk.writeFile(folder / file->path.filename(), *file->bytes); !copied) {
            return copied.error();
        }
    }
    return folder;
}

} // namespace tandem::SafeFile
