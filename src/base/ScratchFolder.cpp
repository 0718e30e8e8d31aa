#include "base/ScratchFolder.h"

#include "base/FileSystem.h"
#include "base/Uuid.h"

namespace tandem {

ScratchFolder::ScratchFolder(const std::string& prefix)
    : folder(std::filesystem::temp_directory_path() / (prefix + Uuid::make()))
    , creation(FileSystem::local().createDirectories(folder)) {}

ScratchFolder::~ScratchFolder() {
    (void)FileSystem::local().removeAll(folder);
}

} // namespace tandem
