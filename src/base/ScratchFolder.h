#pragma once

#include "base/Error.h"

#include <filesystem>
#include <string>

namespace tandem {

// A fresh folder prefix + UUID in the temporary folder, removed with everything in it when the
// object goes, whichever way its user leaves.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& prefix);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return folder; }
    // Whether the folder could be made; the error when it could not.
    const Result<void>& made() const { return creation; }

private:
    std::filesystem::path folder;
    Result<void> creation;
};

} // namespace tandem
