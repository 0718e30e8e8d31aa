#pragma once

#include "support/ScratchHome.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace tandem::testing {

// Koala's folders inside a scratch home, and whole-folder snapshots to prove files untouched.
struct KoalaFiles {
    ScratchHome home;
    std::filesystem::path sampler = home.path() / "Music" / "Koala Sampler";
    std::filesystem::path settings = sampler / "settings";
    std::filesystem::path song = sampler / "default";
    std::filesystem::path backups = sampler / "Tandem backups";

    void writeSettings(const std::string& defaults, const std::optional<std::string>& map = std::nullopt) {
        ScratchHome::write(settings / "defaults.json", defaults);
        if (map) ScratchHome::write(settings / "midiMapping.json", *map);
    }

    // Every regular file under the settings folder with its bytes (temporaries included, so a
    // leftover shows up as a difference).
    std::map<std::string, std::string> settingsFiles() const {
        std::map<std::string, std::string> files;
        std::error_code error;
        for (auto& entry : std::filesystem::directory_iterator(settings, error)) {
            if (entry.is_regular_file())
                files[entry.path().filename().string()] = ScratchHome::read(entry.path());
        }
        return files;
    }
};

} // namespace tandem::testing
