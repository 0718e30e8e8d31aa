#include "platform/linux/FfmpegInput.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavutil/error.h>
#include <libavutil/time.h>
}

#include <mutex>

namespace tandem::media {

namespace {

void registerDevices() {
    static std::once_flag once;
    std::call_once(once, [] {
        avdevice_register_all();
        av_log_set_level(AV_LOG_QUIET);
    });
}

} // namespace

std::string FfmpegInput::text(int error) {
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, buffer, sizeof buffer);
    return buffer;
}

Result<std::unique_ptr<FfmpegInput>> FfmpegInput::open(const InputRequest& request, AVMediaType type) {
    registerDevices();
    const AVInputFormat* format = av_find_input_format(request.format.c_str());
    if (!format)
        return Error{"Tandem.FFmpeg", AVERROR_DEMUXER_NOT_FOUND, "No " + request.format + " input here"};
    std::unique_ptr<FfmpegInput> in(new FfmpegInput);
    in->formatName = request.format;
    in->input = avformat_alloc_context();
    if (!in->input) return Error{"Tandem.FFmpeg", AVERROR(ENOMEM), "Out of memory"};
    // Reads block on the device; a stop must be able to end them.
    in->input->interrupt_callback.callback = [](void* flag) -> int {
        return static_cast<std::atomic<bool>*>(flag)->load() ? 1 : 0;
    };
    in->input->interrupt_callback.opaque = &in->stopping;
    AVDictionary* options = nullptr;
    for (const auto& [key, value] : request.options)
        av_dict_set(&options, key.c_str(), value.c_str(), 0);
    int status = avformat_open_input(&in->input, request.url.c_str(), format, &options);
    av_dict_free(&options);
    if (status < 0) {
        in->input = nullptr; // freed by a failed open
        return Error{"Tandem.FFmpeg", status, text(status)};
    }
    if ((status = avformat_find_stream_info(in->input, nullptr)) < 0)
        return Error{"Tandem.FFmpeg", status, text(status)};
    const AVCodec* codec = nullptr;
    in->streamIndex = av_find_best_stream(in->input, type, -1, -1, &codec, 0);
    if (in->streamIndex < 0 || !codec)
        return Error{"Tandem.FFmpeg", AVERROR_STREAM_NOT_FOUND, "Nothing readable in " + request.url};
    in->timeBase = in->input->streams[in->streamIndex]->time_base;
    in->decoder = avcodec_alloc_context3(codec);
    if (!in->decoder) return Error{"Tandem.FFmpeg", AVERROR(ENOMEM), "Out of memory"};
    avcodec_parameters_to_context(in->decoder, in->input->streams[in->streamIndex]->codecpar);
    if ((status = avcodec_open2(in->decoder, codec, nullptr)) < 0)
        return Error{"Tandem.FFmpeg", status, text(status)};
    return in;
}

FfmpegInput::~FfmpegInput() {
    stop();
    if (decoder) avcodec_free_context(&decoder);
    if (input) avformat_close_input(&input);
}

void FfmpegInput::start(std::function<void(const AVFrame&, int64_t)> frameHandler,
                        std::function<void(int)> endHandler) {
    if (reader.joinable()) return;
    onFrame = std::move(frameHandler);
    onEnd = std::move(endHandler);
    stopping = false;
    reader = std::thread([this] { run(); });
}

void FfmpegInput::stop() {
    stopping = true;
    if (reader.joinable()) reader.join();
}

void FfmpegInput::run() {
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    int status = 0;
    while (!stopping && packet && frame) {
        status = av_read_frame(input, packet);
        if (status == AVERROR(EAGAIN)) {
            status = 0;
            continue;
        }
        if (status < 0) break;
        if (packet->stream_index == streamIndex && avcodec_send_packet(decoder, packet) >= 0) {
            while (!stopping && avcodec_receive_frame(decoder, frame) >= 0) {
                const int64_t pts = frame->best_effort_timestamp != AV_NOPTS_VALUE
                                        ? frame->best_effort_timestamp
                                        : frame->pts;
                const int64_t micros =
                    pts == AV_NOPTS_VALUE ? av_gettime() : av_rescale_q(pts, timeBase, AV_TIME_BASE_Q);
                if (onFrame) onFrame(*frame, micros);
                av_frame_unref(frame);
            }
        }
        av_packet_unref(packet);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    if (!stopping && onEnd) onEnd(status);
}

std::vector<std::pair<std::string, std::string>> listSources(const std::string& formatName) {
    registerDevices();
    std::vector<std::pair<std::string, std::string>> list;
    const AVInputFormat* format = av_find_input_format(formatName.c_str());
    if (!format) return list;
    AVDeviceInfoList* devices = nullptr;
    if (avdevice_list_input_sources(format, nullptr, nullptr, &devices) >= 0 && devices) {
        for (int i = 0; i < devices->nb_devices; ++i) {
            const AVDeviceInfo* device = devices->devices[i];
            if (!device || !device->device_name) continue;
            list.emplace_back(device->device_name,
                              device->device_description ? device->device_description : device->device_name);
        }
    }
    avdevice_free_list_devices(&devices);
    return list;
}

} // namespace tandem::media
