#pragma once

#include "base/Error.h"
#include "platform/MovieFile.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace tandem {

// One recording: composed frames and processed sound into a movie, by the studio's rules. The first
// frame starts the timeline at its own time; a frame not later than the last one written (as the file
// places it, in 1/90000 s) is dropped; sound before the first frame is not written; a recording
// without a frame leaves no file. Frames come from the compose queue, sound from the audio source's
// queue, finish from anywhere: everything is under the writer's own lock.
class WebcamWriter {
public:
    // A movie of width × height at `path`, with the recording's settings. An existing file is never
    // replaced: "Can't write " + its name (domain "Tandem.Webcam", code 1). Other failures are the
    // movie's own.
    static Result<std::unique_ptr<WebcamWriter>> make(MovieFiles& movies, const std::filesystem::path& path,
                                                      int width, int height);
    // An unfinished recording is cancelled, its file removed.
    ~WebcamWriter();
    WebcamWriter(const WebcamWriter&) = delete;
    WebcamWriter& operator=(const WebcamWriter&) = delete;

    const std::filesystem::path& url() const { return file; }

    // Whether the frame was written.
    bool appendVideo(const MovieFrame& frame, double time);
    // Whether the buffer was written: only once the timeline has started, before finish, while the
    // movie's audio input is ready.
    bool appendAudio(const SampleBuffer& buffer);

    bool started() const;
    bool finished() const;

    // Ends the timeline at the last frame and completes the file; `done` receives whether the file was
    // written (on the movie's thread). A second call, or a recording without a frame (its file removed),
    // completes with false at once.
    void finish(std::function<void(bool)> done);

private:
    WebcamWriter(std::filesystem::path path, std::shared_ptr<MovieFile> movie);

    const std::filesystem::path file;
    const std::shared_ptr<MovieFile> movie;
    mutable std::mutex lock;
    std::optional<double> start;
    std::optional<double> lastVideo;
    bool isFinished = false;
};

} // namespace tandem
