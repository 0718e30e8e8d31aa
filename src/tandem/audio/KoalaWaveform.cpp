#include "tandem/audio/KoalaWaveform.h"

#include "base/Paths.h"

#include <sndfile.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <new>
#include <string>

namespace tandem {

namespace {

constexpr sf_count_t chunkFrames = 32768;
constexpr size_t lastBucket = KoalaWaveformAudio::bucketCount - 1;

// Our own descriptor, opened close-on-exec so that a program spawned meanwhile does not inherit it;
// libsndfile only borrows it.
class Descriptor {
public:
    explicit Descriptor(const std::filesystem::path& file)
        : fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd; }

private:
    int fd;
};

struct SoundFileCloser {
    void operator()(SNDFILE* sound) const { sf_close(sound); }
};
using SoundFile = std::unique_ptr<SNDFILE, SoundFileCloser>;

bool stillTheSameFile(const KoalaAudioSignature& signature, FileSystem& disk) {
    auto now = KoalaAudioSignature::of(signature.path, disk);
    return now && *now == signature;
}

// `m < v ? v : m` keeps m when v is NaN, so a NaN sample never wins.
inline float larger(float m, float v) {
    return m < v ? v : m;
}

constexpr size_t laneWidth = 8;

inline void foldLanes(float* __restrict lanes, const float* __restrict samples) {
    for (size_t l = 0; l < laneWidth; ++l)
        lanes[l] = larger(lanes[l], std::fabs(samples[l]));
}

} // namespace

KoalaWave wave(const KoalaWaveformAudio& audio, const KoalaSession::Pad& pad) {
    KoalaWave result;
    result.peaks = audio.peaks;
    result.frames = audio.frames;
    const double total = audio.frames;
    // An envelope without a length has nothing to place the trims on.
    if (!(total > 0)) return result;
    result.slices.reserve(pad.slices.size());
    for (double slice : pad.slices)
        result.slices.push_back(slice / total);
    result.start = pad.start / total;
    result.end = std::min(pad.end.value_or(total) / total, 1.0);
    result.duration = audio.sampleRate > 0 ? total / audio.sampleRate : 0;
    return result;
}

KoalaPeakEnvelope::KoalaPeakEnvelope(double totalFrames)
    : total(totalFrames)
    , buckets(KoalaWaveformAudio::bucketCount, 0.0f) {}

float KoalaPeakEnvelope::peak(const float* samples, size_t count) {
    // Thirty-two running maxima in four groups of eight: each group is a plain element-wise max that
    // the compiler turns into vector instructions without reordering a floating-point reduction, and
    // four independent groups keep the processor from waiting on one chain of maxima.
    constexpr size_t groups = 4;
    float lanes[groups][laneWidth] = {};
    size_t i = 0;
    for (; i + groups * laneWidth <= count; i += groups * laneWidth) {
        foldLanes(lanes[0], samples + i);
        foldLanes(lanes[1], samples + i + laneWidth);
        foldLanes(lanes[2], samples + i + 2 * laneWidth);
        foldLanes(lanes[3], samples + i + 3 * laneWidth);
    }
    float largest = 0;
    for (; i < count; ++i)
        largest = larger(largest, std::fabs(samples[i]));
    for (const auto& group : lanes) {
        for (float v : group)
            largest = larger(largest, v);
    }
    return largest;
}

void KoalaPeakEnvelope::add(const float* samples, size_t channelCount, int64_t position, size_t frames) {
    if (!(total > 0) || channelCount == 0) return;
    size_t i = 0;
    while (i < frames) {
        // One run per bucket the block touches: the bucket and where it ends are worked out here, never
        // per sample.
        const double f = double(position) + double(i);
        const size_t bucket =
            std::min(size_t(f * double(KoalaWaveformAudio::bucketCount) / total), lastBucket);
        const double end = std::floor(total * double(bucket + 1) / double(KoalaWaveformAudio::bucketCount));
        const size_t left = frames - i;
        const size_t run = end > f ? std::clamp(size_t(end - f), size_t(1), left) : 1;
        // The bucket keeps the loudest channel, so the run's interleaved samples fold as one: no
        // channel needs splitting out first.
        const float value = std::min(peak(samples + i * channelCount, run * channelCount), 1.0f);
        float& slot = buckets[bucket];
        if (value > slot) slot = value;
        i += run;
    }
}

void KoalaPeakEnvelope::normalise() {
    const auto largest = std::max_element(buckets.begin(), buckets.end());
    if (largest == buckets.end()) return;
    const float m = *largest;
    if (!std::isfinite(m) || !(m > 0)) return;
    for (float& p : buckets)
        p = std::min(p / m, 1.0f);
}

namespace KoalaWaveformReader {

std::filesystem::path samplePath(int64_t sampleID) {
    return Paths::koalaSong() / "sampler" / (std::to_string(sampleID) + ".wav");
}

std::optional<double> length(const std::filesystem::path& file) {
    Descriptor descriptor(file);
    if (descriptor.get() < 0) return std::nullopt;
    SF_INFO info{};
    SoundFile sound(sf_open_fd(descriptor.get(), SFM_READ, &info, SF_FALSE));
    if (!sound || info.frames <= 0) return std::nullopt;
    return double(info.frames);
}

std::optional<KoalaWaveformAudio> read(const KoalaAudioSignature& signature, KoalaWaveformReadToken& token,
                                       FileSystem& disk) {
    const std::filesystem::path file(signature.path);
    if (token.isStopped()) return std::nullopt;
    // The caller's version must still be the one on disk before a single byte is decoded.
    if (!stillTheSameFile(signature, disk)) return std::nullopt;

    Descriptor descriptor(file);
    if (descriptor.get() < 0) return std::nullopt;
    SF_INFO info{};
    SoundFile sound(sf_open_fd(descriptor.get(), SFM_READ, &info, SF_FALSE));
    if (!sound) return std::nullopt;
    if (info.frames <= 0 || info.samplerate <= 0 || info.channels <= 0) return std::nullopt;
    // Integer encodings come back as -1 … 1; float files as they are, so louder than full scale shows.
    sf_command(sound.get(), SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);

    // One decode buffer of 32768 frames for the whole file, never cleared: every chunk overwrites what
    // it uses.
    const size_t channels = size_t(info.channels);
    std::unique_ptr<float[]> interleaved(new (std::nothrow) float[size_t(chunkFrames) * channels]);
    if (!interleaved) return std::nullopt;

    const sf_count_t length = info.frames;
    KoalaPeakEnvelope envelope{double(length)};
    sf_count_t position = 0;
    while (position < length) {
        if (token.isStopped()) return std::nullopt;
        const sf_count_t wanted = std::min(chunkFrames, length - position);
        const sf_count_t got = sf_readf_float(sound.get(), interleaved.get(), wanted);
        // Nothing where the header promised frames is a damaged or shortened file: stop rather than loop
        // for ever or count silence that is not there.
        if (got <= 0 || got > wanted) return std::nullopt;
        if (got < wanted && sf_error(sound.get()) != SF_ERR_NO_ERROR) return std::nullopt;
        envelope.add(interleaved.get(), channels, position, size_t(got));
        position += got;
    }

    if (token.isStopped()) return std::nullopt;
    // A file rewritten while it was decoded gives a mixture of two versions: not worth keeping.
    if (!stillTheSameFile(signature, disk)) return std::nullopt;
    envelope.normalise();

    KoalaWaveformAudio audio;
    audio.signature = signature;
    audio.peaks = envelope.takePeaks();
    audio.frames = double(length);
    audio.sampleRate = double(info.samplerate);
    return audio;
}

} // namespace KoalaWaveformReader

} // namespace tandem
