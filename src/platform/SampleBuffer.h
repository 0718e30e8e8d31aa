#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tandem {

// One block of audio as a capture source delivers it: linear PCM, interleaved (one plane of
// frames × channels samples) or planar (one plane of frames samples per channel), stamped with the
// host time of its first frame. A plain value: copying it copies the samples.
//
// The samples live in the vector of their format, planes one after the other; the other two vectors
// stay empty. Formats Tandem does not process ("other") are carried as raw bytes so that they can be
// passed on untouched.
struct SampleBuffer {
    enum class Format { float32, int16, other };

    double rate = 0; // frames per second
    int channels = 0;
    Format format = Format::float32;
    bool interleaved = true;
    size_t frames = 0;
    double time = 0; // presentation time of the first frame, host seconds

    std::vector<float> floats;     // Format::float32
    std::vector<int16_t> integers; // Format::int16
    std::vector<std::byte> bytes;  // Format::other, bytesPerSample each
    size_t bytesPerSample = 0;     // Format::other only

    size_t planeCount() const { return interleaved ? 1 : size_t(channels > 0 ? channels : 0); }
    // Samples in one plane: every channel's when interleaved, one channel's when planar.
    size_t planeLength() const { return interleaved ? frames * size_t(channels > 0 ? channels : 0) : frames; }
    double duration() const { return rate > 0 ? double(frames) / rate : 0; }

    float* floatPlane(size_t plane) { return floats.data() + plane * planeLength(); }
    const float* floatPlane(size_t plane) const { return floats.data() + plane * planeLength(); }
    int16_t* int16Plane(size_t plane) { return integers.data() + plane * planeLength(); }
    const int16_t* int16Plane(size_t plane) const { return integers.data() + plane * planeLength(); }

    // Sample `frame` of `channel`, whichever the layout (no bounds checks).
    float& floatAt(size_t frame, int channel) {
        return interleaved ? floats[frame * size_t(channels) + size_t(channel)]
                           : floats[size_t(channel) * frames + frame];
    }
    float floatAt(size_t frame, int channel) const {
        return interleaved ? floats[frame * size_t(channels) + size_t(channel)]
                           : floats[size_t(channel) * frames + frame];
    }
    int16_t& int16At(size_t frame, int channel) {
        return interleaved ? integers[frame * size_t(channels) + size_t(channel)]
                           : integers[size_t(channel) * frames + frame];
    }

    // Buffers of silence in each format; the caller fills the samples.
    static SampleBuffer makeFloat(double rate, int channels, size_t frames, bool interleaved = true,
                                  double time = 0) {
        SampleBuffer buffer = made(Format::float32, rate, channels, frames, interleaved, time);
        buffer.floats.assign(buffer.planeCount() * buffer.planeLength(), 0.0f);
        return buffer;
    }
    static SampleBuffer makeInt16(double rate, int channels, size_t frames, bool interleaved = true,
                                  double time = 0) {
        SampleBuffer buffer = made(Format::int16, rate, channels, frames, interleaved, time);
        buffer.integers.assign(buffer.planeCount() * buffer.planeLength(), int16_t(0));
        return buffer;
    }
    static SampleBuffer makeOther(size_t bytesPerSample, double rate, int channels, size_t frames,
                                  bool interleaved = true, double time = 0) {
        SampleBuffer buffer = made(Format::other, rate, channels, frames, interleaved, time);
        buffer.bytesPerSample = bytesPerSample;
        buffer.bytes.assign(buffer.planeCount() * buffer.planeLength() * bytesPerSample, std::byte{0});
        return buffer;
    }

    bool operator==(const SampleBuffer&) const = default;

private:
    static SampleBuffer made(Format format, double rate, int channels, size_t frames, bool interleaved,
                             double time) {
        SampleBuffer buffer;
        buffer.format = format;
        buffer.rate = rate;
        buffer.channels = channels;
        buffer.frames = frames;
        buffer.interleaved = interleaved;
        buffer.time = time;
        return buffer;
    }
};

} // namespace tandem
