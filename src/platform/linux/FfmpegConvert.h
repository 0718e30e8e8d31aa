#pragma once

#include "platform/SampleBuffer.h"
#include "platform/VideoFrame.h"

extern "C" {
#include <libavutil/frame.h>
}

struct SwsContext;
struct SwrContext;

namespace tandem::media {

// Decoded pictures to BGRA of a chosen size (libswscale, bicubic), its context kept while the
// source's size and format stay the same.
class BgraConverter {
public:
    ~BgraConverter();
    // Nothing (an empty frame) when the picture cannot be converted.
    VideoFrame convert(const AVFrame& picture, int width, int height, double time);

private:
    SwsContext* context = nullptr;
    int fromWidth = 0, fromHeight = 0, fromFormat = -1, toWidth = 0, toHeight = 0;
};

// Decoded sound to 32-bit float, interleaved, 48 kHz stereo (libswresample).
class FloatStereoConverter {
public:
    ~FloatStereoConverter();
    SampleBuffer convert(const AVFrame& sound, double time);

private:
    SwrContext* context = nullptr;
    int fromRate = 0, fromFormat = -1, fromChannels = 0;
};

} // namespace tandem::media
