#pragma once

#include "base/Error.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace tandem::media {

// What a libavdevice input is opened with.
struct InputRequest {
    std::string format; // "video4linux2", "x11grab", "pulse"
    std::string url;
    std::vector<std::pair<std::string, std::string>> options;
};

// A libavdevice input with the decoder of its first stream of one kind. Reading runs on a thread of
// its own; `stop` interrupts a blocked read and joins it, so nothing outlives it.
class FfmpegInput {
public:
    // The error's code is the AVERROR value; its description FFmpeg's words.
    static Result<std::unique_ptr<FfmpegInput>> open(const InputRequest& request, AVMediaType type);
    ~FfmpegInput();
    FfmpegInput(const FfmpegInput&) = delete;
    FfmpegInput& operator=(const FfmpegInput&) = delete;

    // Each decoded frame with its stamp in microseconds on the device's clock; `onEnd` once with the
    // error that ended reading (not after stop).
    void start(std::function<void(const AVFrame&, int64_t)> onFrame, std::function<void(int)> onEnd);
    void stop();

    const AVCodecContext& codec() const { return *decoder; }
    const std::string& format() const { return formatName; }

    static std::string text(int error);

private:
    FfmpegInput() = default;
    void run();

    AVFormatContext* input = nullptr;
    AVCodecContext* decoder = nullptr;
    int streamIndex = -1;
    AVRational timeBase{1, 1000000};
    std::string formatName;
    std::atomic<bool> stopping{false};
    std::thread reader;
    std::function<void(const AVFrame&, int64_t)> onFrame;
    std::function<void(int)> onEnd;
};

// The devices libavdevice lists for an input format: (device name, description).
std::vector<std::pair<std::string, std::string>> listSources(const std::string& format);

} // namespace tandem::media
