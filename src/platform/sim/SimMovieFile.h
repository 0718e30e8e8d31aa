#pragma once

#include "platform/MovieFile.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace tandem {

// A movie that records what it is given instead of encoding it, with the real one's rules for what
// it takes. Its file exists from creation: a short text of what was written once finished, and gone
// when cancelled or when finishing fails. Tests make it not ready, or fail, on demand.
class SimMovieFile final : public MovieFile {
public:
    struct Frame {
        double time = 0;
        int width = 0;
        int height = 0;
        uint32_t firstPixel = 0; // the top-left pixel as a 32-bit word (0xAARRGGBB)

        bool operator==(const Frame&) const = default;
    };

    SimMovieFile(std::filesystem::path path, MovieSettings settings);

    void startSession(double time) override;
    bool videoReady() override;
    bool audioReady() override;
    bool appendVideo(const MovieFrame& frame, double time) override;
    bool appendAudio(const SampleBuffer& buffer) override;
    void endSession(double time) override;
    void finish(std::function<void(bool)> done) override;
    void cancel() override;
    std::optional<Error> error() override;

    // On demand: inputs that are not ready, a writer that fails (appends refused, finish false).
    void setVideoReady(bool ready);
    void setAudioReady(bool ready);
    void fail(Error error);
    // On demand: a finish waits, file unwritten, until released, as an encoder still writing its index.
    void holdFinish();
    void releaseFinish();

    // What was written.
    const std::filesystem::path& path() const { return file; }
    const MovieSettings& settings() const { return made; }
    std::optional<double> sessionStart() const;
    std::optional<double> sessionEnd() const;
    std::vector<Frame> frames() const;
    std::vector<SampleBuffer> audio() const;
    bool finished() const;
    bool cancelled() const;
    int finishCalls() const;

private:
    const std::filesystem::path file;
    const MovieSettings made;
    mutable std::mutex lock;
    std::optional<double> start;
    std::optional<double> end;
    std::vector<Frame> video;
    std::vector<SampleBuffer> sound;
    bool videoIsReady = true;
    bool audioIsReady = true;
    std::optional<Error> failure;
    bool done = false;
    bool dropped = false;
    int finishes = 0;
    bool finishHeld = false;
    std::vector<std::function<void(bool)>> heldFinishes;

    void complete(std::function<void(bool)> completion);
};

// Makes SimMovieFiles and keeps each one for the test to look at.
class SimMovieFiles final : public MovieFiles {
public:
    Result<std::shared_ptr<MovieFile>> create(const std::filesystem::path& path,
                                              const MovieSettings& settings) override;

    // The next create fails with this error (once).
    void failNextCreate(Error error);
    // Files made from now on hold their finish until released (SimMovieFile::releaseFinish).
    void holdFinishes(bool hold);

    std::vector<std::shared_ptr<SimMovieFile>> made() const;
    std::shared_ptr<SimMovieFile> last() const;

private:
    mutable std::mutex lock;
    std::optional<Error> nextFailure;
    bool holding = false;
    std::vector<std::shared_ptr<SimMovieFile>> files;
};

} // namespace tandem
