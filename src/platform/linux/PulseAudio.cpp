#include "platform/linux/PulseAudio.h"

#include "base/Clock.h"
#include "base/ThreadQueue.h"
#include "platform/linux/PulseSupport.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <deque>
#include <mutex>

namespace tandem {

namespace {

constexpr uint32_t rate = 48000;
constexpr int channels = 2;
std::atomic<int> nullSinks{0};

pa_sample_spec floatFormat(uint32_t r, int c) {
    pa_sample_spec plan{};
    plan.format = PA_SAMPLE_FLOAT32LE;
    plan.rate = r;
    plan.channels = uint8_t(c);
    return plan;
}

// Playback that follows the performance: 40 ms buffered, where the server's default is about 2 s.
pa_buffer_attr closePlayback(const pa_sample_spec& plan) {
    pa_buffer_attr attr{};
    attr.maxlength = uint32_t(-1);
    attr.tlength = uint32_t(pa_usec_to_bytes(40000, &plan));
    attr.prebuf = uint32_t(-1);
    attr.minreq = uint32_t(-1);
    attr.fragsize = uint32_t(-1);
    return attr;
}

// With the lock held: waits until the stream is ready or has failed.
bool waitReady(pulse::Connection& c, pa_stream* stream) {
    for (;;) {
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (state == PA_STREAM_READY) return true;
        if (!PA_STREAM_IS_GOOD(state) || !c.good()) return false;
        pa_threaded_mainloop_wait(c.loop());
    }
}

void signalOnState(pa_stream* stream, pulse::Connection& c) {
    pa_stream_set_state_callback(
        stream,
        [](pa_stream*, void* loop) {
            pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
        },
        c.loop());
}

// The samples of any float buffer as interleaved stereo bytes.
std::vector<float> interleavedStereo(const SampleBuffer& buffer) {
    std::vector<float> out(buffer.frames * channels);
    if (buffer.format != SampleBuffer::Format::float32 || buffer.channels < 1) return out;
    for (size_t f = 0; f < buffer.frames; ++f)
        for (int c = 0; c < channels; ++c)
            out[f * channels + size_t(c)] = buffer.floatAt(f, std::min(c, buffer.channels - 1));
    return out;
}

class PulseTapSession final : public AudioTapSession {
public:
    PulseTapSession(std::unique_ptr<pulse::Connection> connection, AudioTaps::Cycle cycle, bool listen)
        : c(std::move(connection))
        , cycle(std::move(cycle))
        , listen(listen) {}
    ~PulseTapSession() override { stop(); }

    Result<void> begin(const pulse::SinkInput& input, const std::string& outputUID) {
        this->input = input;
        std::string source;
        if (listen) {
            sinkName = "tandem_webcam_" + std::to_string(::getpid()) + "_" + std::to_string(++nullSinks);
            nullModule =
                c->loadModule("module-null-sink",
                              "sink_name=" + sinkName + " sink_properties=device.description=Tandem_webcam");
            if (!nullModule)
                return audioTapError(AudioTapFailure::output, "module-null-sink: " + c->lastError());
            if (!c->moveSinkInput(input.index, sinkName))
                return audioTapError(AudioTapFailure::output, "move-sink-input: " + c->lastError());
            moved = true;
            source = sinkName + ".monitor";
            std::string output = outputUID;
            if (output.empty()) output = c->defaultSink().value_or("");
            pulse::Connection::Lock lock(*c);
            const pa_sample_spec plan = floatFormat(rate, channels);
            playback = pa_stream_new(c->context(), "Tandem LISTEN", &plan, nullptr);
            if (!playback) return audioTapError(AudioTapFailure::output, c->lastError());
            signalOnState(playback, *c);
            const pa_buffer_attr attr = closePlayback(plan);
            if (pa_stream_connect_playback(playback, output.empty() ? nullptr : output.c_str(), &attr,
                                           PA_STREAM_ADJUST_LATENCY, nullptr, nullptr) < 0 ||
                !waitReady(*c, playback))
                return audioTapError(AudioTapFailure::output, "playback: " + c->lastError());
        } else {
            for (const pulse::Sink& sink : c->sinks()) {
                if (sink.index == input.sink) source = sink.monitorSource;
            }
            if (source.empty()) return audioTapError(AudioTapFailure::start, "Koala's sink has no monitor");
        }
        pulse::Connection::Lock lock(*c);
        const pa_sample_spec plan = floatFormat(rate, channels);
        record = pa_stream_new(c->context(), "Tandem webcam", &plan, nullptr);
        if (!record) return audioTapError(AudioTapFailure::format, c->lastError());
        // Without LISTEN, Koala's sink carries other programs too: record Koala's input alone.
        if (!listen && pa_stream_set_monitor_stream(record, input.index) < 0)
            return audioTapError(AudioTapFailure::start, c->lastError());
        signalOnState(record, *c);
        pa_stream_set_read_callback(
            record, [](pa_stream* s, size_t, void* self) { static_cast<PulseTapSession*>(self)->read(s); },
            this);
        pa_buffer_attr attr{};
        attr.maxlength = uint32_t(-1);
        attr.fragsize = uint32_t(pa_usec_to_bytes(10000, &plan));
        // Timing updates give pa_stream_get_latency something to answer with, so stamps allow for it.
        if (pa_stream_connect_record(record, source.c_str(), &attr,
                                     pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY |
                                                       PA_STREAM_AUTO_TIMING_UPDATE |
                                                       PA_STREAM_INTERPOLATE_TIMING)) < 0 ||
            !waitReady(*c, record))
            return audioTapError(AudioTapFailure::start, "record: " + c->lastError());
        return {};
    }

    void stop() override {
        if (!c) return;
        {
            pulse::Connection::Lock lock(*c);
            for (pa_stream** stream : {&record, &playback}) {
                if (!*stream) continue;
                pa_stream_set_read_callback(*stream, nullptr, nullptr);
                pa_stream_set_state_callback(*stream, nullptr, nullptr);
                pa_stream_disconnect(*stream);
                pa_stream_unref(*stream);
                *stream = nullptr;
            }
        }
        // Koala's sound goes back where it was before Tandem's sink goes away.
        if (moved) c->moveSinkInput(input.index, input.sink);
        if (nullModule) c->unloadModule(*nullModule);
        c.reset();
    }

private:
    // On the main loop's thread, its lock held.
    void read(pa_stream* stream) {
        const void* data = nullptr;
        size_t bytes = 0;
        size_t backlog = 0;
        while ((backlog = pa_stream_readable_size(stream)) > 0 && backlog != size_t(-1)) {
            if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) return;
            const size_t frames = bytes / (sizeof(float) * channels);
            // The first frame was captured the whole local backlog plus the server's latency ago.
            // Buffers follow each other without gaps, so consecutive ones are stamped back to back,
            // re-anchored only when the estimate runs ahead (a dropout, a suspended source): early
            // estimates wobble, and a stamp must never go back.
            pa_usec_t latency = 0;
            int negative = 0;
            if (pa_stream_get_latency(stream, &latency, &negative) < 0 || negative) latency = 0;
            const double estimate = SystemClock::shared().uptime() - double(latency) / 1e6 -
                                    double(backlog) / (sizeof(float) * channels * rate);
            const double time = next && estimate - *next < 0.05 ? *next : estimate;
            next = time + double(frames) / rate;
            SampleBuffer buffer = SampleBuffer::makeFloat(rate, channels, frames, true, time);
            if (data) std::memcpy(buffer.floats.data(), data, frames * channels * sizeof(float));
            pa_stream_drop(stream);
            std::optional<SampleBuffer> processed = cycle ? cycle(buffer) : std::nullopt;
            if (listen && playback && processed) {
                std::vector<float> samples = interleavedStereo(*processed);
                const size_t writable = pa_stream_writable_size(playback);
                // A listen device that falls behind loses sound rather than piling it up.
                const size_t size = std::min(writable, samples.size() * sizeof(float)) / 8 * 8;
                if (size > 0) pa_stream_write(playback, samples.data(), size, nullptr, 0, PA_SEEK_RELATIVE);
            }
        }
    }

    std::unique_ptr<pulse::Connection> c;
    AudioTaps::Cycle cycle;
    const bool listen;
    pulse::SinkInput input;
    std::string sinkName;
    std::optional<uint32_t> nullModule;
    bool moved = false;
    pa_stream* record = nullptr;
    pa_stream* playback = nullptr;
    std::optional<double> next; // the stamp the next buffer follows on with
};

} // namespace

Result<std::shared_ptr<AudioTapSession>> PulseAudioTaps::open(const AudioTapRequest& request, Cycle cycle) {
    auto connected = pulse::Connection::connect("Tandem");
    if (!connected) return audioTapError(AudioTapFailure::start, connected.error().description);
    auto c = std::move(connected.value());
    std::optional<pulse::SinkInput> found;
    for (const pulse::SinkInput& input : c->sinkInputs()) {
        if (input.process == request.process) {
            found = input;
            break;
        }
    }
    if (!found) return audioTapError(AudioTapFailure::notPlaying, "no sink input of that process");
    auto session = std::make_shared<PulseTapSession>(std::move(c), std::move(cycle), request.listen);
    auto begun = session->begin(*found, request.outputUID);
    if (!begun) {
        session->stop();
        return begun.error();
    }
    return std::shared_ptr<AudioTapSession>(session);
}

// Outputs.

std::vector<AudioOutputDevice> PulseAudioOutputs::devices() {
    auto connected = pulse::Connection::connect("Tandem");
    if (!connected) return {};
    std::vector<AudioOutputDevice> list;
    for (const pulse::Sink& sink : connected.value()->sinks())
        list.push_back({sink.index, sink.name, sink.description});
    return list;
}

namespace {

class PulsePlayer final : public AudioPlayer {
public:
    explicit PulsePlayer(std::optional<uint32_t> device)
        : device(device) {}
    ~PulsePlayer() override {
        stop();
        completions.sync([] {}); // every `played` is called once, also for buffers dropped here
    }

    Result<void> start(double r, int ch) override {
        stop();
        if (!(r > 0) || ch < 1 || ch > 8) return Error{"Tandem.Media", 1, "Can't play that format"};
        auto connected = pulse::Connection::connect("Tandem LISTEN");
        if (!connected) return connected.error();
        auto connection = std::move(connected.value());
        std::string sink;
        if (device) {
            for (const pulse::Sink& s : connection->sinks())
                if (s.index == *device) sink = s.name;
        }
        pulse::Connection::Lock lock(*connection);
        const pa_sample_spec plan = floatFormat(uint32_t(r), ch);
        pa_stream* made = pa_stream_new(connection->context(), "Tandem LISTEN", &plan, nullptr);
        if (!made) return Error{"Tandem.Media", 1, connection->lastError()};
        signalOnState(made, *connection);
        pa_stream_set_write_callback(
            made, [](pa_stream*, size_t, void* self) { static_cast<PulsePlayer*>(self)->feed(); }, this);
        const pa_buffer_attr attr = closePlayback(plan);
        if (pa_stream_connect_playback(made, sink.empty() ? nullptr : sink.c_str(), &attr,
                                       PA_STREAM_ADJUST_LATENCY, nullptr, nullptr) < 0 ||
            !waitReady(*connection, made)) {
            const Error error{"Tandem.Media", 1, "Can't play: " + connection->lastError()};
            pa_stream_set_write_callback(made, nullptr, nullptr);
            pa_stream_disconnect(made);
            pa_stream_unref(made);
            return error;
        }
        stream = made;
        bytesPerFrame = sizeof(float) * size_t(ch);
        channelCount = ch;
        c = std::move(connection);
        return {};
    }

    void schedule(const SampleBuffer& buffer, std::function<void()> played) override {
        if (!c) {
            if (played) completions.async(std::move(played));
            return;
        }
        std::vector<float> samples(buffer.frames * size_t(channelCount));
        if (buffer.format == SampleBuffer::Format::float32 && buffer.channels > 0)
            for (size_t f = 0; f < buffer.frames; ++f)
                for (int ch = 0; ch < channelCount; ++ch)
                    samples[f * size_t(channelCount) + size_t(ch)] =
                        buffer.floatAt(f, std::min(ch, buffer.channels - 1));
        pulse::Connection::Lock lock(*c);
        queued.push_back({std::move(samples), 0, std::move(played)});
        feed();
    }

    void stop() override {
        if (!c) return;
        std::deque<Entry> dropped;
        {
            pulse::Connection::Lock lock(*c);
            pa_stream_set_write_callback(stream, nullptr, nullptr);
            pa_stream_set_state_callback(stream, nullptr, nullptr);
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
            stream = nullptr;
            dropped.swap(queued);
        }
        c.reset();
        for (Entry& entry : dropped)
            if (entry.played) completions.async(std::move(entry.played));
    }

private:
    struct Entry {
        std::vector<float> samples;
        size_t written = 0; // samples
        std::function<void()> played;
    };

    // With the main loop's lock held. Completions run on a queue of their own, never under that lock,
    // so a caller holding its own lock while scheduling cannot deadlock with them.
    void feed() {
        if (!stream) return;
        size_t writable = pa_stream_writable_size(stream);
        while (!queued.empty() && writable >= bytesPerFrame) {
            Entry& front = queued.front();
            const size_t left = (front.samples.size() - front.written) * sizeof(float);
            const size_t size = std::min(left, writable / bytesPerFrame * bytesPerFrame);
            if (size > 0 && pa_stream_write(stream, front.samples.data() + front.written, size, nullptr, 0,
                                            PA_SEEK_RELATIVE) < 0)
                break;
            front.written += size / sizeof(float);
            writable -= size;
            if (front.written >= front.samples.size()) {
                if (front.played) completions.async(std::move(front.played));
                queued.pop_front();
            }
        }
    }

    const std::optional<uint32_t> device;
    ThreadQueue completions{"Tandem LISTEN completions"};
    std::unique_ptr<pulse::Connection> c;
    pa_stream* stream = nullptr;
    size_t bytesPerFrame = 8;
    int channelCount = 2;
    std::deque<Entry> queued;
};

} // namespace

std::unique_ptr<AudioPlayer> PulseAudioOutputs::makePlayer(std::optional<uint32_t> device) {
    return std::make_unique<PulsePlayer>(device);
}

} // namespace tandem
