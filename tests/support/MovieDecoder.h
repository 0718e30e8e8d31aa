#pragma once

// A movie file decoded back with libavformat and libavcodec, as a player would read it: its streams,
// its packets' key flags, every picture's time and the sound. Only programs that link FFmpeg include
// this.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

namespace tandem::testing {

struct DecodedMovie {
    bool opened = false;
    AVCodecID videoCodec = AV_CODEC_ID_NONE;
    int videoProfile = FF_PROFILE_UNKNOWN;
    int width = 0, height = 0;
    AVColorPrimaries primaries = AVCOL_PRI_UNSPECIFIED;
    AVColorTransferCharacteristic transfer = AVCOL_TRC_UNSPECIFIED;
    AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED;
    AVCodecID audioCodec = AV_CODEC_ID_NONE;
    int sampleRate = 0, channels = 0;
    std::vector<bool> keyFrames;  // video packets in decode order
    std::vector<double> framePts; // decoded pictures, seconds, in presentation order
    double audioEnd = 0;          // the end of the last sound packet, seconds
    double audioFirstPts = 0;     // seconds
    std::vector<float> left;      // the first channel, from the first presented sample
    float audioPeak = 0;          // the loudest sample of any channel
};

// Decodes the whole file; `onPicture` sees each decoded picture with its time in seconds.
inline DecodedMovie decodeMovie(const std::filesystem::path& file,
                                const std::function<void(const AVFrame&, double)>& onPicture = {}) {
    DecodedMovie movie;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, file.c_str(), nullptr, nullptr) < 0) return movie;
    const std::unique_ptr<AVFormatContext*, void (*)(AVFormatContext**)> closeFormat(&format,
                                                                                     avformat_close_input);
    if (avformat_find_stream_info(format, nullptr) < 0) return movie;
    movie.opened = true;
    const int videoIndex = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const int audioIndex = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);

    using Decoder = std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)>;
    auto open = [&](int index) {
        Decoder decoder(nullptr, [](AVCodecContext* c) { avcodec_free_context(&c); });
        if (index < 0) return decoder;
        const AVStream* stream = format->streams[index];
        const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
        decoder.reset(avcodec_alloc_context3(codec));
        avcodec_parameters_to_context(decoder.get(), stream->codecpar);
        decoder->pkt_timebase = stream->time_base;
        avcodec_open2(decoder.get(), codec, nullptr);
        return decoder;
    };
    const Decoder video = open(videoIndex);
    const Decoder audio = open(audioIndex);
    if (video) {
        const AVCodecParameters* v = format->streams[videoIndex]->codecpar;
        movie.videoCodec = v->codec_id;
        movie.videoProfile = v->profile;
        movie.width = v->width;
        movie.height = v->height;
        movie.primaries = v->color_primaries;
        movie.transfer = v->color_trc;
        movie.matrix = v->color_space;
    }
    if (audio) {
        const AVCodecParameters* a = format->streams[audioIndex]->codecpar;
        movie.audioCodec = a->codec_id;
        movie.sampleRate = a->sample_rate;
        movie.channels = a->ch_layout.nb_channels;
    }

    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    bool firstSound = true;
    auto drain = [&](AVCodecContext* decoder, int index) {
        const double unit = av_q2d(format->streams[index]->time_base);
        while (avcodec_receive_frame(decoder, frame) == 0) {
            const double time = double(frame->best_effort_timestamp) * unit;
            if (index == videoIndex) {
                movie.framePts.push_back(time);
                if (onPicture) onPicture(*frame, time);
            } else if (frame->format == AV_SAMPLE_FMT_FLTP) {
                if (firstSound) movie.audioFirstPts = time;
                firstSound = false;
                for (int channel = 0; channel < frame->ch_layout.nb_channels; ++channel) {
                    const float* samples = reinterpret_cast<const float*>(frame->extended_data[channel]);
                    for (int i = 0; i < frame->nb_samples; ++i)
                        movie.audioPeak = std::max(movie.audioPeak, std::abs(samples[i]));
                    if (channel == 0)
                        movie.left.insert(movie.left.end(), samples, samples + frame->nb_samples);
                }
            }
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(format, packet) >= 0) {
        const int index = packet->stream_index;
        if (index == videoIndex && video) {
            movie.keyFrames.push_back(packet->flags & AV_PKT_FLAG_KEY);
            if (avcodec_send_packet(video.get(), packet) == 0) drain(video.get(), index);
        } else if (index == audioIndex && audio) {
            movie.audioEnd = std::max(movie.audioEnd, double(packet->pts + packet->duration) *
                                                          av_q2d(format->streams[index]->time_base));
            if (avcodec_send_packet(audio.get(), packet) == 0) drain(audio.get(), index);
        }
        av_packet_unref(packet);
    }
    for (const auto& [decoder, index] :
         {std::pair{video.get(), videoIndex}, std::pair{audio.get(), audioIndex}}) {
        if (!decoder) continue;
        avcodec_send_packet(decoder, nullptr);
        drain(decoder, index);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    return movie;
}

} // namespace tandem::testing
