#pragma once

#include <filesystem>
#include <string>

namespace tandem::testing {

// Points HOME at a fresh scratch folder for the life of the object, then puts HOME back and removes
// the folder. No test ever sees the real home folder.
class ScratchHome {
public:
    ScratchHome();
    ~ScratchHome();
    ScratchHome(const ScratchHome&) = delete;
    ScratchHome& operator=(const ScratchHome&) = delete;

    const std::filesystem::path& path() const { return folder; }

    static std::string read(const std::filesystem::path& file);
    static void write(const std::filesystem::path& file, const std::string& bytes);

private:
    std::filesystem::path folder;
    std::string previous;
    bool hadPrevious = false;
};

} // namespace tandem::testing
