#pragma once

#include "tandem/audio/KoalaAudioSignature.h"
#include "tandem/integration/KoalaSession.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace tandem {

// The peak envelope of one version of a sample file: 960 buckets, normalised to 0-1.
struct KoalaWaveformAudio {
    static constexpr size_t bucketCount = 960;

    KoalaAudioSignature signature;
    std::vector<float> peaks; // bucketCount values
    double frames = 0;        // the file's length in frames
    double sampleRate = 0;

    bool operator==(const KoalaWaveformAudio&) const = default;
};

// What a screen draws for one pad: the whole file's envelope with the pad's trim and chops as
// fractions of the file.
struct KoalaWave {
    std::vector<float> peaks;
    std::vector<double> slices;
    double start = 0;
    double end = 1;      // never above 1
    double duration = 0; // seconds
    double frames = 0;

    bool operator==(const KoalaWave&) const = default;
};

// The envelope mapped onto a pad's start, end and slices.
KoalaWave wave(const KoalaWaveformAudio& audio, const KoalaSession::Pad& pad);

// Folds decoded audio into the peak buckets of a file of `totalFrames` frames: each bucket keeps the
// largest magnitude, capped at 1, over its frames and over every channel (the loudest channel, not a
// mix). Blocks may come in any size, each starting where the last ended.
class KoalaPeakEnvelope {
public:
    explicit KoalaPeakEnvelope(double totalFrames);

    // `frames` interleaved frames of `channelCount` samples each, the first at absolute frame `position`.
    void add(const float* samples, size_t channelCount, int64_t position, size_t frames);
    // Scales the buckets so that the largest is 1; a silent envelope stays all zero.
    void normalise();

    const std::vector<float>& peaks() const { return buckets; }
    // Hands the buckets over; the envelope takes no more blocks after.
    std::vector<float> takePeaks() { return std::move(buckets); }

    // The largest magnitude among `count` samples: 0 for none, NaN samples ignored, not capped.
    static float peak(const float* samples, size_t count);

private:
    double total;
    std::vector<float> buckets;
};

// Shared between whoever asks for a read and the background read: setting `stopped` cancels it.
class KoalaWaveformReadToken {
public:
    void stop() {
        std::lock_guard guard(lock);
        stopped = true;
    }
    bool isStopped() {
        std::lock_guard guard(lock);
        return stopped;
    }

private:
    std::mutex lock;
    bool stopped = false;
};

namespace KoalaWaveformReader {

// Where Koala keeps a sample: "Music/Koala Sampler/default/sampler/<id>.wav" under the home folder.
std::filesystem::path samplePath(int64_t sampleID);

// The file's length in frames as its header gives it, without decoding any audio; nothing when it
// cannot be opened as audio or holds no frames. Cheap enough for the song reader to ask per pad.
std::optional<double> length(const std::filesystem::path& file);

// Decodes the whole file the signature names into its envelope; nothing when the token is stopped,
// the file changed (before or during the read) or cannot be decoded. Slow: run it off the main queue.
std::optional<KoalaWaveformAudio> read(const KoalaAudioSignature& signature, KoalaWaveformReadToken& token,
                                       FileSystem& disk = FileSystem::local());

} // namespace KoalaWaveformReader

} // namespace tandem
