#include "platform/linux/FfmpegMovieFile.h"

#include "base/ThreadQueue.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <fcntl.h>
#include <mutex>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace tandem {

namespace {

std::string avText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// Sound within a millisecond of where it belongs is taken as continuous: host stamps jitter by a
// sample or two, and filling or cutting such slivers would click. The error stays below this bound.
constexpr double audioSlack = 0.001;
// Sound waits for the picture it belongs to; past this much without a frame it is dropped.
constexpr double audioAheadLimit = 10;

int16_t int16At(const SampleBuffer& buffer, size_t frame, int channel) {
    return buffer.interleaved ? buffer.integers[frame * size_t(buffer.channels) + size_t(channel)]
                              : buffer.integers[size_t(channel) * buffer.frames + frame];
}

// Everything FFmpeg holds for one file; used only on the movie's queue once made.
struct Encoder {
    AVFormatContext* format = nullptr;
    AVCodecContext* video = nullptr;
    AVCodecContext* audio = nullptr;
    AVStream* videoStream = nullptr;
    AVStream* audioStream = nullptr;
    SwsContext* scale = nullptr;
    AVAudioFifo* fifo = nullptr;
    AVFrame* picture = nullptr;
    AVPacket* packet = nullptr;
    // Sound at another rate is converted; the converter is made for the last rate and layout seen.
    SwrContext* resample = nullptr;
    std::tuple<double, int, SampleBuffer::Format, bool> resampled{0, 0, SampleBuffer::Format::other, false};

    Encoder() = default;
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;
    ~Encoder() { close(); }

    void close() {
        swr_free(&resample);
        av_packet_free(&packet);
        av_frame_free(&picture);
        if (fifo) av_audio_fifo_free(fifo);
        fifo = nullptr;
        sws_freeContext(scale);
        scale = nullptr;
        avcodec_free_context(&video);
        avcodec_free_context(&audio);
        if (format) {
            if (format->pb) avio_closep(&format->pb);
            avformat_free_context(format);
            format = nullptr;
        }
    }

    // Feeds one frame (or, with none, the end) and writes every packet that comes out.
    int send(AVCodecContext* codec, AVStream* stream, const AVFrame* frame) {
        int result = avcodec_send_frame(codec, frame);
        if (result < 0) return result;
        while (true) {
            result = avcodec_receive_packet(codec, packet);
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return 0;
            if (result < 0) return result;
            av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            result = av_interleaved_write_frame(format, packet);
            if (result < 0) return result;
        }
    }
};

class FfmpegMovieFile final : public MovieFile, public std::enable_shared_from_this<FfmpegMovieFile> {
public:
    FfmpegMovieFile(std::filesystem::path path, MovieSettings settings, std::unique_ptr<Encoder> encoder,
                    std::shared_ptr<Queue> queue, const FfmpegMovieFiles::Options& options)
        : file(std::move(path))
        , made(settings)
        , encoder(std::move(encoder))
        , queue(std::move(queue))
        , queueLength(options.queueLength)
        , audioQueueLength(options.audioQueueLength) {}

    ~FfmpegMovieFile() override {
        // Dropped without finish or cancel: a file without its index is no movie.
        if (encoder) closeAndRemove();
    }

    void startSession(double time) override {
        std::lock_guard guard(lock);
        if (!start && std::isfinite(time)) start = time;
    }

    bool videoReady() override {
        std::lock_guard guard(lock);
        return writable() && waitingVideo < queueLength;
    }

    bool audioReady() override {
        std::lock_guard guard(lock);
        return writable() && waitingAudio < audioQueueLength;
    }

    bool appendVideo(const MovieFrame& frame, double time) override {
        std::lock_guard guard(lock);
        if (!start || end || !writable() || waitingVideo >= queueLength || !std::isfinite(time)) return false;
        if (!frameFits(frame, made) || time < *start || frame.stride > INT_MAX) return false;
        const int64_t at = place(time, *start);
        if (lastPlace && at <= *lastPlace) return false;
        lastPlace = at;
        ++waitingVideo;
        // Posted under the lock, so that frames reach the queue in the order they were taken.
        queue->async([self = shared_from_this(), frame, at] {
            self->encodeVideo(frame, at);
            std::lock_guard guard(self->lock);
            --self->waitingVideo;
        });
        return true;
    }

    bool appendAudio(const SampleBuffer& buffer) override {
        std::lock_guard guard(lock);
        if (!start || end || !writable() || waitingAudio >= audioQueueLength) return false;
        if (!audioFits(buffer)) return false;
        ++waitingAudio;
        queue->async([self = shared_from_this(), buffer] {
            self->encodeAudio(buffer);
            std::lock_guard guard(self->lock);
            --self->waitingAudio;
        });
        return true;
    }

    void endSession(double time) override {
        std::lock_guard guard(lock);
        if (start && !end && std::isfinite(time)) end = std::max(time, *start);
    }

    void finish(std::function<void(bool)> done) override {
        std::lock_guard guard(lock);
        if (finishing || cancelled) {
            queue->async([done = std::move(done)] {
                if (done) done(false);
            });
            return;
        }
        finishing = true;
        queue->async([self = shared_from_this(), done = std::move(done)] {
            const bool written = self->complete();
            if (done) done(written);
        });
    }

    void cancel() override {
        {
            std::lock_guard guard(lock);
            // Once finish has been asked for, the file is the finish's to keep or remove.
            if (finishing || cancelled) return;
            cancelled = true;
        }
        queue->sync([this] { closeAndRemove(); });
    }

    std::optional<Error> error() override {
        std::lock_guard guard(lock);
        return failure;
    }

private:
    // With the lock held.
    bool writable() const { return !finishing && !cancelled && !failure; }

    // On the queue: whether encoding goes on (a failure or a cancel stops it).
    bool encoding() {
        std::lock_guard guard(lock);
        return encoder && !cancelled && !failure;
    }

    void fail(const std::string& what, int code) {
        std::lock_guard guard(lock);
        if (!failure)
            failure =
                Error{"Tandem.MovieFile", code,
                      "Can't write " + file.filename().string() + ": " + what + " (" + avText(code) + ")"};
    }

    double sessionStart() {
        std::lock_guard guard(lock);
        return start.value_or(0);
    }

    // The sample where the session ends, once it has an end.
    std::optional<int64_t> endSample() {
        std::lock_guard guard(lock);
        if (!start || !end) return std::nullopt;
        return std::llround((*end - *start) * made.audioRate);
    }

    void encodeVideo(const MovieFrame& frame, int64_t at) {
        if (!encoding()) return;
        AVFrame* picture = encoder->picture;
        int result = av_frame_make_writable(picture);
        if (result < 0) return fail("no memory for a picture", result);
        const uint8_t* source[1] = {frame.pixels};
        const int sourceStride[1] = {int(frame.stride)};
        sws_scale(encoder->scale, source, sourceStride, 0, frame.height, picture->data, picture->linesize);
        picture->pts = at;
        result = encoder->send(encoder->video, encoder->videoStream, picture);
        if (result < 0) return fail("the H.264 encoder failed", result);
        videoReach = at;
        drainAudio(false);
    }

    // The buffer at the movie's rate, planar, stamped with the time of its first converted sample (the
    // converter holds a few samples back); nothing when it cannot be converted.
    std::optional<SampleBuffer> convertRate(const SampleBuffer& buffer) {
        const auto kind = std::make_tuple(buffer.rate, buffer.channels, buffer.format, buffer.interleaved);
        if (!encoder->resample || encoder->resampled != kind) {
            swr_free(&encoder->resample);
            const AVSampleFormat format = buffer.format == SampleBuffer::Format::float32
                                              ? (buffer.interleaved ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_FLTP)
                                              : (buffer.interleaved ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_S16P);
            AVChannelLayout layout{};
            av_channel_layout_default(&layout, buffer.channels);
            int result = swr_alloc_set_opts2(&encoder->resample, &layout, AV_SAMPLE_FMT_FLTP, made.audioRate,
                                             &layout, format, int(buffer.rate), 0, nullptr);
            av_channel_layout_uninit(&layout);
            if (result >= 0) result = swr_init(encoder->resample);
            if (result < 0) {
                swr_free(&encoder->resample);
                return std::nullopt;
            }
            encoder->resampled = kind;
        }
        const double held = double(swr_get_delay(encoder->resample, int64_t(buffer.rate))) / buffer.rate;
        const int room = swr_get_out_samples(encoder->resample, int(buffer.frames));
        if (room < 0) return std::nullopt;
        SampleBuffer out = SampleBuffer::makeFloat(made.audioRate, buffer.channels, size_t(room), false);
        std::vector<const uint8_t*> in;
        for (size_t plane = 0; plane < buffer.planeCount(); ++plane)
            in.push_back(buffer.format == SampleBuffer::Format::float32
                             ? reinterpret_cast<const uint8_t*>(buffer.floatPlane(plane))
                             : reinterpret_cast<const uint8_t*>(buffer.int16Plane(plane)));
        std::vector<uint8_t*> planes;
        for (int c = 0; c < buffer.channels; ++c)
            planes.push_back(reinterpret_cast<uint8_t*>(out.floatPlane(size_t(c))));
        const int converted =
            swr_convert(encoder->resample, planes.data(), room, in.data(), int(buffer.frames));
        if (converted < 0) return std::nullopt;
        SampleBuffer result = SampleBuffer::makeFloat(made.audioRate, buffer.channels, size_t(converted),
                                                      false, buffer.time - held);
        for (int c = 0; c < buffer.channels; ++c)
            std::copy_n(out.floatPlane(size_t(c)), converted, result.floatPlane(size_t(c)));
        return result;
    }

    void encodeAudio(const SampleBuffer& buffer) {
        if (!encoding()) return;
        if (buffer.rate != made.audioRate) {
            if (auto converted = convertRate(buffer)) encodeAudio(*converted);
            return;
        }
        const int rate = made.audioRate;
        const int channels = encoder->audio->ch_layout.nb_channels;
        const int64_t written = audioTaken + av_audio_fifo_size(encoder->fifo);
        const double offset = (buffer.time - sessionStart()) * rate;
        if (!(std::fabs(offset) < 1e15)) return; // a stamp from another clock altogether
        int64_t at = std::llround(offset);
        const int64_t slack = std::llround(audioSlack * rate);
        if (written > 0 && std::llabs(at - written) <= slack) at = written;

        int64_t skip = 0;
        if (at < written) skip = written - at; // already covered, or before the session
        int64_t count = int64_t(buffer.frames) - skip;
        if (auto last = endSample()) count = std::min(count, *last - std::max(at, written));
        if (count <= 0) return;
        const int64_t gap = std::max<int64_t>(0, at - written);
        if (av_audio_fifo_size(encoder->fifo) + gap + count > int64_t(audioAheadLimit * rate)) return;

        std::vector<std::vector<float>> planes(size_t(channels),
                                               std::vector<float>(size_t(gap + count), 0.0f));
        for (int c = 0; c < channels; ++c) {
            const int from = std::min(c, buffer.channels - 1); // mono on both sides
            float* out = planes[size_t(c)].data() + gap;
            for (int64_t f = 0; f < count; ++f) {
                const size_t frame = size_t(skip + f);
                out[f] = buffer.format == SampleBuffer::Format::float32
                             ? buffer.floatAt(frame, from)
                             : float(int16At(buffer, frame, from)) / 32768.0f;
            }
        }
        std::vector<void*> data;
        for (auto& plane : planes)
            data.push_back(plane.data());
        const int result = av_audio_fifo_write(encoder->fifo, data.data(), int(gap + count));
        if (result < 0) return fail("no memory for the sound", result);
        drainAudio(false);
    }

    // Encodes the waiting sound as far as the picture reaches (to the session's end when closing),
    // in whole encoder frames except for the very last.
    void drainAudio(bool closing) {
        const int size = encoder->audio->frame_size > 0 ? encoder->audio->frame_size : 1024;
        int64_t limit = 0;
        if (closing) {
            limit = endSample().value_or(audioTaken + av_audio_fifo_size(encoder->fifo));
        } else {
            if (videoReach < 0) return;
            limit = videoReach * made.audioRate / timeScale;
        }
        while (true) {
            const int64_t waiting = std::min<int64_t>(av_audio_fifo_size(encoder->fifo), limit - audioTaken);
            if (waiting <= 0 || (waiting < size && !closing)) return;
            const int take = int(std::min<int64_t>(waiting, size));
            AVFrame* sound = av_frame_alloc();
            if (!sound) return fail("no memory for the sound", AVERROR(ENOMEM));
            sound->nb_samples = take;
            sound->format = encoder->audio->sample_fmt;
            sound->sample_rate = made.audioRate;
            int result = av_channel_layout_copy(&sound->ch_layout, &encoder->audio->ch_layout);
            if (result >= 0) result = av_frame_get_buffer(sound, 0);
            if (result >= 0)
                result = av_audio_fifo_read(encoder->fifo, reinterpret_cast<void**>(sound->data), take);
            if (result >= 0) {
                sound->pts = audioTaken;
                audioTaken += take;
                result = encoder->send(encoder->audio, encoder->audioStream, sound);
            }
            av_frame_free(&sound);
            if (result < 0) return fail("the AAC encoder failed", result);
        }
    }

    // On the queue: the rest of the sound, both encoders drained, the index written at the front.
    bool complete() {
        if (!encoding()) {
            if (encoder) closeAndRemove();
            return false;
        }
        drainAudio(true);
        // Sound past the session's end is cut off.
        if (av_audio_fifo_size(encoder->fifo) > 0)
            av_audio_fifo_drain(encoder->fifo, av_audio_fifo_size(encoder->fifo));
        int result = 0;
        if (encoding()) {
            result = encoder->send(encoder->audio, encoder->audioStream, nullptr);
            if (result < 0) fail("the AAC encoder failed", result);
        }
        if (encoding()) {
            result = encoder->send(encoder->video, encoder->videoStream, nullptr);
            if (result < 0) fail("the H.264 encoder failed", result);
        }
        if (encoding()) {
            result = av_write_trailer(encoder->format);
            if (result < 0) fail("the movie's index could not be written", result);
        }
        if (encoding() && encoder->format->pb) {
            result = avio_closep(&encoder->format->pb);
            if (result < 0) fail("the file could not be closed", result);
        }
        if (!encoding()) {
            closeAndRemove();
            return false;
        }
        encoder.reset();
        return true;
    }

    // On the queue (or once nothing else runs): stops writing and removes the file.
    void closeAndRemove() {
        if (!encoder) return;
        encoder.reset();
        std::error_code ignored;
        std::filesystem::remove(file, ignored);
    }

    const std::filesystem::path file;
    const MovieSettings made;
    std::unique_ptr<Encoder> encoder; // the queue's
    const std::shared_ptr<Queue> queue;
    const int queueLength;
    const int audioQueueLength;

    std::mutex lock;
    std::optional<double> start;
    std::optional<double> end;
    std::optional<int64_t> lastPlace;
    int waitingVideo = 0;
    int waitingAudio = 0;
    bool finishing = false;
    bool cancelled = false;
    std::optional<Error> failure;

    // The queue's own.
    int64_t videoReach = -1; // the last encoded frame's place
    int64_t audioTaken = 0;  // samples handed to the AAC encoder
};

Error setupError(const std::filesystem::path& path, const std::string& what, int code) {
    return Error{"Tandem.MovieFile", code,
                 "Can't write " + path.filename().string() + ": " + what + " (" + avText(code) + ")"};
}

Result<std::unique_ptr<Encoder>> makeEncoder(const std::filesystem::path& path, const MovieSettings& settings,
                                             const std::string& preset) {
    auto encoder = std::make_unique<Encoder>();
    int result = avformat_alloc_output_context2(&encoder->format, nullptr, "mp4", path.c_str());
    if (result < 0 || !encoder->format) return setupError(path, "no MPEG-4 writer", result);

    const AVCodec* h264 = avcodec_find_encoder_by_name("libx264");
    if (!h264) return setupError(path, "no H.264 encoder", AVERROR_ENCODER_NOT_FOUND);
    encoder->video = avcodec_alloc_context3(h264);
    if (!encoder->video) return setupError(path, "no memory", AVERROR(ENOMEM));
    AVCodecContext* video = encoder->video;
    video->width = settings.width;
    video->height = settings.height;
    video->pix_fmt = AV_PIX_FMT_YUV420P;
    video->time_base = AVRational{1, MovieFile::timeScale};
    video->framerate = av_d2q(settings.expectedFrameRate, 1000);
    video->gop_size = settings.keyFrameInterval;
    video->bit_rate = settings.videoBitRate;
    video->color_primaries = AVCOL_PRI_BT709;
    video->color_trc = AVCOL_TRC_BT709;
    video->colorspace = AVCOL_SPC_BT709;
    video->color_range = AVCOL_RANGE_MPEG;
    if (encoder->format->oformat->flags & AVFMT_GLOBALHEADER) video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* videoOptions = nullptr;
    av_dict_set(&videoOptions, "preset", preset.c_str(), 0);
    av_dict_set(&videoOptions, "profile", "high", 0);
    result = avcodec_open2(video, h264, &videoOptions);
    av_dict_free(&videoOptions);
    if (result < 0) return setupError(path, "the H.264 encoder did not start", result);

    const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!aac) return setupError(path, "no AAC encoder", AVERROR_ENCODER_NOT_FOUND);
    encoder->audio = avcodec_alloc_context3(aac);
    if (!encoder->audio) return setupError(path, "no memory", AVERROR(ENOMEM));
    AVCodecContext* audio = encoder->audio;
    audio->sample_fmt = AV_SAMPLE_FMT_FLTP;
    audio->sample_rate = settings.audioRate;
    av_channel_layout_default(&audio->ch_layout, settings.audioChannels);
    audio->bit_rate = settings.audioBitRate;
    audio->time_base = AVRational{1, settings.audioRate};
    if (encoder->format->oformat->flags & AVFMT_GLOBALHEADER) audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    result = avcodec_open2(audio, aac, nullptr);
    if (result < 0) return setupError(path, "the AAC encoder did not start", result);

    encoder->videoStream = avformat_new_stream(encoder->format, nullptr);
    encoder->audioStream = avformat_new_stream(encoder->format, nullptr);
    if (!encoder->videoStream || !encoder->audioStream) return setupError(path, "no memory", AVERROR(ENOMEM));
    encoder->videoStream->time_base = video->time_base;
    encoder->audioStream->time_base = audio->time_base;
    result = avcodec_parameters_from_context(encoder->videoStream->codecpar, video);
    if (result >= 0) result = avcodec_parameters_from_context(encoder->audioStream->codecpar, audio);
    if (result < 0) return setupError(path, "the streams could not be described", result);

    encoder->scale =
        sws_getContext(settings.width, settings.height, AV_PIX_FMT_BGRA, settings.width, settings.height,
                       AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!encoder->scale) return setupError(path, "no picture converter", AVERROR(EINVAL));
    // BT.709, as the stream is tagged; the converter's own default is BT.601. Full-range pixels in,
    // video range out.
    const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(encoder->scale, bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);

    encoder->fifo = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, settings.audioChannels, settings.audioRate);
    encoder->picture = av_frame_alloc();
    encoder->packet = av_packet_alloc();
    if (!encoder->fifo || !encoder->picture || !encoder->packet)
        return setupError(path, "no memory", AVERROR(ENOMEM));
    encoder->picture->format = AV_PIX_FMT_YUV420P;
    encoder->picture->width = settings.width;
    encoder->picture->height = settings.height;
    encoder->picture->color_primaries = AVCOL_PRI_BT709;
    encoder->picture->color_trc = AVCOL_TRC_BT709;
    encoder->picture->colorspace = AVCOL_SPC_BT709;
    encoder->picture->color_range = AVCOL_RANGE_MPEG;
    result = av_frame_get_buffer(encoder->picture, 0);
    if (result < 0) return setupError(path, "no memory for a picture", result);

    result = avio_open(&encoder->format->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (result < 0) return setupError(path, "the file could not be opened", result);
    AVDictionary* muxOptions = nullptr;
    av_dict_set(&muxOptions, "movflags", "+faststart", 0);
    result = avformat_write_header(encoder->format, &muxOptions);
    av_dict_free(&muxOptions);
    if (result < 0) return setupError(path, "the header could not be written", result);
    return encoder;
}

} // namespace

FfmpegMovieFiles::FfmpegMovieFiles()
    : FfmpegMovieFiles(Options{}) {}

FfmpegMovieFiles::FfmpegMovieFiles(Options options)
    : options(std::move(options)) {
    // libx264 and the muxer report every movie's statistics on standard error; failures reach the
    // caller as errors, so FFmpeg itself says only what went wrong.
    static std::once_flag quiet;
    std::call_once(quiet, [] {
        if (av_log_get_level() > AV_LOG_ERROR) av_log_set_level(AV_LOG_ERROR);
    });
}

Result<std::shared_ptr<MovieFile>> FfmpegMovieFiles::create(const std::filesystem::path& path,
                                                            const MovieSettings& settings) {
    if (settings.width <= 0 || settings.height <= 0 || settings.width % 2 || settings.height % 2 ||
        settings.audioRate <= 0 || settings.audioChannels < 1 || settings.audioChannels > 2)
        return Error{"Tandem.MovieFile", EINVAL,
                     "Can't write " + path.filename().string() + ": unsupported movie settings"};
    // FFmpeg would replace an existing file; claiming the name first refuses that atomically.
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (descriptor < 0) return posixError("Can't create " + path.filename().string(), errno);
    ::close(descriptor);

    auto encoder = makeEncoder(path, settings, options.preset);
    if (!encoder) {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
        return encoder.error();
    }
    std::shared_ptr<Queue> queue =
        options.encoder ? options.encoder() : std::make_shared<ThreadQueue>("Tandem movie encoder");
    return std::shared_ptr<MovieFile>(std::make_shared<FfmpegMovieFile>(
        path, settings, std::move(encoder).value(), std::move(queue), options));
}

} // namespace tandem
