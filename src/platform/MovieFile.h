#pragma once

#include "base/Error.h"
#include "platform/SampleBuffer.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

namespace tandem {

// One picture handed to a movie: 32-bit pixels, B, G, R, A in memory (a QImage of Format_RGB32 keeps
// them so), rows `stride` bytes apart. `owner` keeps the pixels alive until the movie has converted
// them, which happens later and on another thread; the pixels must not change meanwhile.
struct MovieFrame {
    int width = 0;
    int height = 0;
    ptrdiff_t stride = 0;
    const uint8_t* pixels = nullptr;
    std::shared_ptr<const void> owner;
};

// What a movie is made with: an MPEG-4 file with its header first, H.264 High video at an average bit
// rate, a key frame at least every `keyFrameInterval` frames, and AAC sound.
struct MovieSettings {
    int width = 1920;
    int height = 1080;
    int64_t videoBitRate = 1920 * 1080 * 6;
    int keyFrameInterval = 60;
    double expectedFrameRate = 30; // a hint: frames come at whatever times they carry
    int audioRate = 48000;
    int audioChannels = 2;
    int64_t audioBitRate = 256000;

    // The settings of a recording of width × height: width × height × 6 bits per second.
    static MovieSettings recording(int width, int height) {
        MovieSettings settings;
        settings.width = width;
        settings.height = height;
        settings.videoBitRate = int64_t(width) * height * 6;
        return settings;
    }

    bool operator==(const MovieSettings&) const = default;
};

// One movie being written, in the asset writer's terms: a session that starts at a host time, video
// and audio appended while their inputs are ready, the session's end, then finish (or cancel). Times
// are host seconds, on the clock that stamps the sample buffers; inside the file they count from the
// session's start. Every call may come from any thread.
class MovieFile {
public:
    // Video times inside the file are whole ticks of 1/90000 s from the session's start.
    static constexpr int timeScale = 90000;
    static int64_t ticks(double seconds) { return std::llround(seconds * timeScale); }
    // Where a frame at host time `time` lands in a session that started at `start`: two frames whose
    // places are equal cannot both be in the file, however their host times differ.
    static int64_t place(double time, double start) { return ticks(time - start); }

    virtual ~MovieFile() = default;

    // The file's timeline starts here: earlier samples are left out. Once only.
    virtual void startSession(double time) = 0;

    // Whether an append would be taken now; false while the writer is busy (or after it failed).
    virtual bool videoReady() = 0;
    virtual bool audioReady() = 0;

    // False when not taken: not ready, no session, session ended, finished, failed, no pixels or a
    // frame of another size than the movie's, a time before the session's start, or a time whose
    // place is not later than the last taken frame's.
    virtual bool appendVideo(const MovieFrame& frame, double time) = 0;
    // Linear PCM at any whole rate (converted to the movie's), in any layout and channel count (float
    // or 16-bit integer), placed by its time: a gap before it is filled with silence, samples
    // overlapping what is already written are dropped, so the sound never drifts from the picture. A
    // mono buffer is heard on both sides; beyond the movie's channels the rest are left out. False when
    // not taken (as for video, or a format that is not linear PCM).
    virtual bool appendAudio(const SampleBuffer& buffer) = 0;

    // The timeline ends here: later audio is cut off, later frames refused. Once only.
    virtual void endSession(double time) = 0;
    // Completes the file; `done` receives whether it was written whole, once, on the writer's own
    // thread (or, in the simulation, before finish returns). The file stays valid until then. A file
    // that cannot be completed is removed. A second finish, or one after cancel, completes with false.
    virtual void finish(std::function<void(bool)> done) = 0;
    // Stops writing and removes the file; returns once it is gone.
    virtual void cancel() = 0;

    // Why the writer failed, when it did.
    virtual std::optional<Error> error() = 0;
};

// What every movie refuses, whatever writes it: a frame that is not the movie's size or whose rows
// overlap, and audio whose samples do not fill its frames × channels or whose rate is not a whole number
// of frames per second from 1000 to 768000.
inline bool frameFits(const MovieFrame& frame, const MovieSettings& settings) {
    return frame.pixels && frame.width == settings.width && frame.height == settings.height &&
           frame.stride >= ptrdiff_t(frame.width) * 4;
}
inline bool audioFits(const SampleBuffer& buffer) {
    if (!(buffer.rate >= 1000 && buffer.rate <= 768000) || buffer.rate != std::floor(buffer.rate) ||
        buffer.channels <= 0 || buffer.channels > 64 || !std::isfinite(buffer.time))
        return false;
    const size_t samples = buffer.planeCount() * buffer.planeLength();
    switch (buffer.format) {
    case SampleBuffer::Format::float32:
        return buffer.floats.size() == samples;
    case SampleBuffer::Format::int16:
        return buffer.integers.size() == samples;
    case SampleBuffer::Format::other:
        return false;
    }
    return false;
}

// Makes movies. An existing file is never replaced: its name is refused with the POSIX error EEXIST.
class MovieFiles {
public:
    virtual ~MovieFiles() = default;

    // A movie being written to `path`, with its header written; or why it could not start.
    virtual Result<std::shared_ptr<MovieFile>> create(const std::filesystem::path& path,
                                                      const MovieSettings& settings) = 0;
};

} // namespace tandem
