#include "platform/sim/SimMovieFile.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <unistd.h>

namespace tandem {

SimMovieFile::SimMovieFile(std::filesystem::path path, MovieSettings settings)
    : file(std::move(path))
    , made(settings) {}

void SimMovieFile::startSession(double time) {
    std::lock_guard guard(lock);
    if (!start) start = time;
}

bool SimMovieFile::videoReady() {
    std::lock_guard guard(lock);
    return videoIsReady && !failure && !done && !dropped;
}

bool SimMovieFile::audioReady() {
    std::lock_guard guard(lock);
    return audioIsReady && !failure && !done && !dropped;
}

bool SimMovieFile::appendVideo(const MovieFrame& frame, double time) {
    std::lock_guard guard(lock);
    if (!start || end || done || dropped || failure || !videoIsReady || !std::isfinite(time)) return false;
    if (!frameFits(frame, made) || time < *start) return false;
    if (!video.empty() && place(time, *start) <= place(video.back().time, *start)) return false;
    uint32_t first = 0;
    std::memcpy(&first, frame.pixels, sizeof first);
    video.push_back(Frame{time, frame.width, frame.height, first});
    return true;
}

bool SimMovieFile::appendAudio(const SampleBuffer& buffer) {
    std::lock_guard guard(lock);
    if (!start || end || done || dropped || failure || !audioIsReady) return false;
    if (!audioFits(buffer)) return false;
    sound.push_back(buffer);
    return true;
}

void SimMovieFile::endSession(double time) {
    std::lock_guard guard(lock);
    if (start && !end) end = time;
}

void SimMovieFile::finish(std::function<void(bool)> completion) {
    {
        std::lock_guard guard(lock);
        ++finishes;
        if (finishHeld) {
            heldFinishes.push_back(std::move(completion));
            return;
        }
    }
    complete(std::move(completion));
}

void SimMovieFile::holdFinish() {
    std::lock_guard guard(lock);
    finishHeld = true;
}

void SimMovieFile::releaseFinish() {
    std::vector<std::function<void(bool)>> waiting;
    {
        std::lock_guard guard(lock);
        finishHeld = false;
        waiting.swap(heldFinishes);
    }
    for (auto& completion : waiting)
        complete(std::move(completion));
}

void SimMovieFile::complete(std::function<void(bool)> completion) {
    bool written = false;
    {
        std::lock_guard guard(lock);
        if (!done && !dropped && !failure) {
            done = true;
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            out << "simulated movie " << made.width << "x" << made.height << ": " << video.size()
                << " frames, " << sound.size() << " audio buffers\n";
            written = bool(out);
        }
        if (!written && !dropped) {
            dropped = true;
            std::error_code ignored;
            std::filesystem::remove(file, ignored);
        }
    }
    if (completion) completion(written);
}

void SimMovieFile::cancel() {
    std::lock_guard guard(lock);
    if (dropped || done) return;
    dropped = true;
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
}

std::optional<Error> SimMovieFile::error() {
    std::lock_guard guard(lock);
    return failure;
}

void SimMovieFile::setVideoReady(bool ready) {
    std::lock_guard guard(lock);
    videoIsReady = ready;
}

void SimMovieFile::setAudioReady(bool ready) {
    std::lock_guard guard(lock);
    audioIsReady = ready;
}

void SimMovieFile::fail(Error error) {
    std::lock_guard guard(lock);
    failure = std::move(error);
}

std::optional<double> SimMovieFile::sessionStart() const {
    std::lock_guard guard(lock);
    return start;
}

std::optional<double> SimMovieFile::sessionEnd() const {
    std::lock_guard guard(lock);
    return end;
}

std::vector<SimMovieFile::Frame> SimMovieFile::frames() const {
    std::lock_guard guard(lock);
    return video;
}

std::vector<SampleBuffer> SimMovieFile::audio() const {
    std::lock_guard guard(lock);
    return sound;
}

bool SimMovieFile::finished() const {
    std::lock_guard guard(lock);
    return done;
}

bool SimMovieFile::cancelled() const {
    std::lock_guard guard(lock);
    return dropped && !done;
}

int SimMovieFile::finishCalls() const {
    std::lock_guard guard(lock);
    return finishes;
}

Result<std::shared_ptr<MovieFile>> SimMovieFiles::create(const std::filesystem::path& path,
                                                         const MovieSettings& settings) {
    {
        std::lock_guard guard(lock);
        if (nextFailure) {
            Error error = std::move(*nextFailure);
            nextFailure.reset();
            return error;
        }
    }
    // Claimed exclusively, as the real writer claims its name.
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (descriptor < 0) return posixError("Can't create " + path.filename().string(), errno);
    ::close(descriptor);
    auto movie = std::make_shared<SimMovieFile>(path, settings);
    std::lock_guard guard(lock);
    if (holding) movie->holdFinish();
    files.push_back(movie);
    return std::shared_ptr<MovieFile>(movie);
}

void SimMovieFiles::holdFinishes(bool hold) {
    std::lock_guard guard(lock);
    holding = hold;
}

void SimMovieFiles::failNextCreate(Error error) {
    std::lock_guard guard(lock);
    nextFailure = std::move(error);
}

std::vector<std::shared_ptr<SimMovieFile>> SimMovieFiles::made() const {
    std::lock_guard guard(lock);
    return files;
}

std::shared_ptr<SimMovieFile> SimMovieFiles::last() const {
    std::lock_guard guard(lock);
    return files.empty() ? nullptr : files.back();
}

} // namespace tandem
