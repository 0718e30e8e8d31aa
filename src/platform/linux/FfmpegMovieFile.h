#pragma once

#include "base/Queue.h"
#include "platform/MovieFile.h"

#include <functional>
#include <memory>
#include <string>

namespace tandem {

// Movies written with FFmpeg: MPEG-4 with its header moved to the front (+faststart), H.264 High from
// libx264 at the settings' average bit rate on a 1/90000 time base (frames keep their own times), key
// frames at least every `keyFrameInterval` frames, BGRA converted to 4:2:0 by libswscale with BT.709
// coefficients and tags (its default would be BT.601), and FFmpeg's AAC from planar float in
// 1024-sample frames (other rates converted by libswresample). Sound never runs ahead of the picture
// and ends with the session.
//
// Each movie converts and encodes on a queue of its own; an input is ready while fewer than
// `queueLength` frames (or `audioQueueLength` buffers) wait there.
class FfmpegMovieFiles final : public MovieFiles {
public:
    struct Options {
        // libx264's preset: the slowest that keeps 1080p at 30 frames per second in real time on two
        // cores beside the composition. bench/movie_encode measured "veryfast" at 70-80 ms of CPU a
        // frame on the two-core machine, more than two cores have for 30 frames a second (66 ms), and
        // "superfast" at 45-55 ms. Never "ultrafast": it turns CABAC and the 8×8 transform off, which
        // is Constrained Baseline, not High.
        std::string preset = "superfast";
        int queueLength = 4;
        int audioQueueLength = 64;
        // Where each movie encodes; a thread of its own ("Tandem movie encoder") when not given.
        std::function<std::shared_ptr<Queue>()> encoder;
    };

    FfmpegMovieFiles();
    explicit FfmpegMovieFiles(Options options);

    Result<std::shared_ptr<MovieFile>> create(const std::filesystem::path& path,
                                              const MovieSettings& settings) override;

private:
    Options options;
};

} // namespace tandem
