#include "tandem/webcam/WebcamWriter.h"

#include <cerrno>
#include <cmath>

namespace tandem {

Result<std::unique_ptr<WebcamWriter>>
WebcamWriter::make(MovieFiles& movies, const std::filesystem::path& path, int width, int height) {
    auto movie = movies.create(path, MovieSettings::recording(width, height));
    if (!movie) {
        const Error& error = movie.error();
        // Two recordings started within one second get the same name; the second must not overwrite
        // the first.
        if (error.domain == "NSPOSIXErrorDomain" && error.code == EEXIST)
            return Error{"Tandem.Webcam", 1, "Can't write " + path.filename().string()};
        return error;
    }
    return std::unique_ptr<WebcamWriter>(new WebcamWriter(path, std::move(movie).value()));
}

WebcamWriter::WebcamWriter(std::filesystem::path path, std::shared_ptr<MovieFile> movie)
    : file(std::move(path))
    , movie(std::move(movie)) {}

WebcamWriter::~WebcamWriter() {
    std::lock_guard guard(lock);
    if (!isFinished) movie->cancel();
}

bool WebcamWriter::appendVideo(const MovieFrame& frame, double time) {
    std::lock_guard guard(lock);
    if (isFinished || !std::isfinite(time)) return false;
    if (!start) {
        start = time;
        movie->startSession(time);
    }
    if (lastVideo && MovieFile::place(time, *start) <= MovieFile::place(*lastVideo, *start)) return false;
    if (!movie->videoReady()) return false;
    if (!movie->appendVideo(frame, time)) return false;
    lastVideo = time;
    return true;
}

bool WebcamWriter::appendAudio(const SampleBuffer& buffer) {
    std::lock_guard guard(lock);
    if (!start || isFinished || !movie->audioReady()) return false;
    return movie->appendAudio(buffer);
}

bool WebcamWriter::started() const {
    std::lock_guard guard(lock);
    return start.has_value();
}

bool WebcamWriter::finished() const {
    std::lock_guard guard(lock);
    return isFinished;
}

void WebcamWriter::finish(std::function<void(bool)> done) {
    std::unique_lock guard(lock);
    if (isFinished) {
        guard.unlock();
        if (done) done(false);
        return;
    }
    isFinished = true;
    if (!lastVideo) {
        movie->cancel();
        guard.unlock();
        if (done) done(false);
        return;
    }
    movie->endSession(*lastVideo);
    guard.unlock();
    movie->finish(std::move(done));
}

} // namespace tandem
