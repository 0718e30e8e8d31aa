#include "tandem/audio/KoalaAudioSignature.h"

namespace tandem {

std::optional<KoalaAudioSignature> KoalaAudioSignature::of(const std::filesystem::path& file,
                                                           FileSystem& disk) {
    auto attributes = disk.attributes(file);
    if (!attributes) return std::nullopt;
    return KoalaAudioSignature{file.string(), attributes->modified, attributes->size, attributes->fileNumber};
}

} // namespace tandem
