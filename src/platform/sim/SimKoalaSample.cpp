#include "platform/sim/SimKoalaSample.h"

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <numbers>

namespace tandem {

namespace {

int formatOf(SimKoalaSample::Encoding encoding) {
    switch (encoding) {
    case SimKoalaSample::Encoding::pcm16:
        return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    case SimKoalaSample::Encoding::pcm24:
        return SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    case SimKoalaSample::Encoding::pcm32:
        return SF_FORMAT_WAV | SF_FORMAT_PCM_32;
    case SimKoalaSample::Encoding::float32:
        return SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    case SimKoalaSample::Encoding::flac16:
        return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    }
    return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
}

Error soundError(const std::filesystem::path& file, SNDFILE* sound) {
    return Error{"Tandem.Sim", EIO, file.string() + ": " + sf_strerror(sound)};
}

} // namespace

namespace {

SimKoalaSample shaped(SimKoalaSample::Wave wave, int64_t frames) {
    SimKoalaSample sample;
    sample.wave = wave;
    sample.frames = frames;
    return sample;
}

} // namespace

SimKoalaSample SimKoalaSample::silence(int64_t frames) {
    return shaped(Wave::silence, frames);
}

SimKoalaSample SimKoalaSample::constant(double level, int64_t frames) {
    SimKoalaSample sample = shaped(Wave::constant, frames);
    sample.levels = {level};
    return sample;
}

SimKoalaSample SimKoalaSample::silentThenFull(int64_t frames) {
    return shaped(Wave::silentThenFull, frames);
}

SimKoalaSample SimKoalaSample::ramp(int64_t frames) {
    return shaped(Wave::ramp, frames);
}

SimKoalaSample SimKoalaSample::sine(double hertz, int64_t frames) {
    SimKoalaSample sample = shaped(Wave::sine, frames);
    sample.hertz = hertz;
    return sample;
}

SimKoalaSample SimKoalaSample::made(int64_t frames, std::function<double(int64_t frame, int channel)> custom) {
    SimKoalaSample sample = shaped(Wave::custom, frames);
    sample.custom = std::move(custom);
    return sample;
}

SimKoalaSample& SimKoalaSample::withChannels(int count) {
    channels = count;
    return *this;
}

SimKoalaSample& SimKoalaSample::at(int rate) {
    sampleRate = rate;
    return *this;
}

SimKoalaSample& SimKoalaSample::as(Encoding to) {
    encoding = to;
    return *this;
}

SimKoalaSample& SimKoalaSample::withLevels(std::vector<double> perChannel) {
    levels = std::move(perChannel);
    return *this;
}

double SimKoalaSample::value(int64_t frame, int channel) const {
    const double level =
        levels.empty() ? 1.0 : levels[std::min(size_t(std::max(channel, 0)), levels.size() - 1)];
    double v = 0;
    switch (wave) {
    case Wave::silence:
        v = 0;
        break;
    case Wave::constant:
        v = level;
        break;
    case Wave::silentThenFull:
        v = frame < frames / 2 ? 0.0 : level;
        break;
    case Wave::ramp:
        v = frames > 1 ? level * double(frame) / double(frames - 1) : level;
        break;
    case Wave::sine:
        v = level * std::sin(2 * std::numbers::pi * hertz * double(frame) / double(sampleRate));
        break;
    case Wave::custom:
        v = custom ? custom(frame, channel) : 0.0;
        break;
    }
    if (encoding != Encoding::float32) v = std::clamp(v, -1.0, 1.0);
    return v;
}

Result<void> SimKoalaSample::write(const std::filesystem::path& file) const {
    if (frames < 0 || channels < 1 || sampleRate < 1)
        return Error{"Tandem.Sim", EINVAL, file.string() + ": not a sample shape"};
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = formatOf(encoding);
    SNDFILE* sound = sf_open(file.c_str(), SFM_WRITE, &info);
    if (!sound) return soundError(file, nullptr);
    // Integer files take full scale as the largest code, not one past it.
    if (encoding != Encoding::float32) sf_command(sound, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    constexpr int64_t block = 4096;
    std::vector<double> buffer(size_t(block * channels));
    for (int64_t at = 0; at < frames; at += block) {
        const int64_t count = std::min(block, frames - at);
        for (int64_t i = 0; i < count; ++i) {
            for (int c = 0; c < channels; ++c)
                buffer[size_t(i * channels + c)] = value(at + i, c);
        }
        if (sf_writef_double(sound, buffer.data(), count) != count) {
            Error error = soundError(file, sound);
            sf_close(sound);
            return error;
        }
    }
    if (sf_close(sound) != 0) return Error{"Tandem.Sim", EIO, file.string() + ": could not be closed"};
    return {};
}

} // namespace tandem
