#pragma once

#include "base/Error.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

namespace tandem {

// The audio of a sample the simulated Koala keeps: a wave of a given length, channel count, rate and
// encoding, written as a WAV file. A plain value, so a test can compute what any frame should read back
// as and compare it with what Tandem draws.
struct SimKoalaSample {
    enum class Wave {
        silence,
        constant,       // `level` throughout
        silentThenFull, // silence for the first half of the frames, then full scale (times `level`)
        ramp,           // 0 at the first frame rising to `level` at the last
        sine,           // `level` × sin(2π × hertz × t)
        custom,         // `custom(frame, channel)`
    };
    // `flac16` writes a 16-bit FLAC file instead of a WAV file: its length comes from its header, not
    // from its size, so a cut copy still promises every frame.
    enum class Encoding { pcm16, pcm24, pcm32, float32, flac16 };

    Wave wave = Wave::sine;
    int64_t frames = 44100;
    int channels = 1;
    int sampleRate = 44100;
    Encoding encoding = Encoding::pcm16;
    // The level of each channel; channels past the end take the last one.
    std::vector<double> levels{1.0};
    double hertz = 440;
    std::function<double(int64_t frame, int channel)> custom;

    static SimKoalaSample silence(int64_t frames);
    static SimKoalaSample constant(double level, int64_t frames);
    static SimKoalaSample silentThenFull(int64_t frames);
    static SimKoalaSample ramp(int64_t frames);
    static SimKoalaSample sine(double hertz, int64_t frames);
    static SimKoalaSample made(int64_t frames, std::function<double(int64_t frame, int channel)> custom);

    // Chained adjustments: `SimKoalaSample::sine(220, 4410).stereo().as(Encoding::pcm24)`.
    SimKoalaSample& withChannels(int count);
    SimKoalaSample& stereo() { return withChannels(2); }
    SimKoalaSample& at(int rate);
    SimKoalaSample& as(Encoding to);
    SimKoalaSample& withLevels(std::vector<double> perChannel);

    // The value written for one frame of one channel, before the encoding quantises it. Integer
    // encodings clip it to full scale; float files keep anything, louder than full scale included.
    double value(int64_t frame, int channel) const;

    // Writes the file with libsndfile, truncating one that exists (its file number stays).
    Result<void> write(const std::filesystem::path& file) const;
};

} // namespace tandem
