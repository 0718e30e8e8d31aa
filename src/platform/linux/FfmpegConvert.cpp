#include "platform/linux/FfmpegConvert.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace tandem::media {

BgraConverter::~BgraConverter() {
    sws_freeContext(context);
}

VideoFrame BgraConverter::convert(const AVFrame& picture, int width, int height, double time) {
    if (picture.width <= 0 || picture.height <= 0 || width <= 0 || height <= 0) return {};
    if (!context || fromWidth != picture.width || fromHeight != picture.height ||
        fromFormat != picture.format || toWidth != width || toHeight != height) {
        sws_freeContext(context);
        context = sws_getContext(picture.width, picture.height, AVPixelFormat(picture.format), width, height,
                                 AV_PIX_FMT_BGRA, SWS_BICUBIC, nullptr, nullptr, nullptr);
        fromWidth = picture.width;
        fromHeight = picture.height;
        fromFormat = picture.format;
        toWidth = width;
        toHeight = height;
    }
    if (!context) return {};
    VideoFrame frame = VideoFrame::make(width, height, time);
    uint8_t* planes[4] = {frame.bytes.data(), nullptr, nullptr, nullptr};
    int strides[4] = {int(frame.stride), 0, 0, 0};
    if (sws_scale(context, picture.data, picture.linesize, 0, picture.height, planes, strides) != height)
        return {};
    return frame;
}

FloatStereoConverter::~FloatStereoConverter() {
    swr_free(&context);
}

SampleBuffer FloatStereoConverter::convert(const AVFrame& sound, double time) {
    const int channels = sound.ch_layout.nb_channels;
    if (sound.sample_rate <= 0 || channels <= 0 || sound.nb_samples <= 0) return {};
    if (!context || fromRate != sound.sample_rate || fromFormat != sound.format || fromChannels != channels) {
        swr_free(&context);
        AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
        AVChannelLayout from{};
        av_channel_layout_copy(&from, &sound.ch_layout);
        const int made = swr_alloc_set_opts2(&context, &stereo, AV_SAMPLE_FMT_FLT, 48000, &from,
                                             AVSampleFormat(sound.format), sound.sample_rate, 0, nullptr);
        av_channel_layout_uninit(&from);
        if (made < 0 || swr_init(context) < 0) {
            swr_free(&context);
            return {};
        }
        fromRate = sound.sample_rate;
        fromFormat = sound.format;
        fromChannels = channels;
    }
    const int capacity = swr_get_out_samples(context, sound.nb_samples);
    if (capacity <= 0) return {};
    SampleBuffer buffer = SampleBuffer::makeFloat(48000, 2, size_t(capacity), true, time);
    uint8_t* out[1] = {reinterpret_cast<uint8_t*>(buffer.floats.data())};
    const int made = swr_convert(context, out, capacity, const_cast<const uint8_t**>(sound.extended_data),
                                 sound.nb_samples);
    if (made <= 0) return {};
    buffer.frames = size_t(made);
    buffer.floats.resize(size_t(made) * 2);
    return buffer;
}

} // namespace tandem::media
