#pragma once

#include "base/FileSystem.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace tandem {

// One version of a sample file, told apart without opening it: a rewrite changes its date or size, a
// replacement under the same name its file number.
struct KoalaAudioSignature {
    std::string path;
    int64_t modified = 0; // nanoseconds since 1970
    uint64_t size = 0;
    uint64_t fileNumber = 0; // 0 when the file system has none

    bool operator==(const KoalaAudioSignature&) const = default;

    // Nothing when the file's attributes cannot be read.
    static std::optional<KoalaAudioSignature> of(const std::filesystem::path& file,
                                                 FileSystem& disk = FileSystem::local());
};

struct KoalaAudioSignatureHash {
    size_t operator()(const KoalaAudioSignature& signature) const {
        size_t hash = std::hash<std::string>{}(signature.path);
        hash = hash * 1000003 ^ std::hash<int64_t>{}(signature.modified);
        hash = hash * 1000003 ^ std::hash<uint64_t>{}(signature.size);
        return hash * 1000003 ^ std::hash<uint64_t>{}(signature.fileNumber);
    }
};

} // namespace tandem
