#include "platform/linux/PulseSupport.h"

#include <cstdlib>

namespace tandem::pulse {

namespace {

void signalLoop(pa_threaded_mainloop* loop) {
    pa_threaded_mainloop_signal(loop, 0);
}

} // namespace

Result<std::unique_ptr<Connection>> Connection::connect(const std::string& name) {
    std::unique_ptr<Connection> c(new Connection);
    c->mainloop = pa_threaded_mainloop_new();
    if (!c->mainloop) return Error{"Tandem.Pulse", 1, "Can't make a PulseAudio main loop"};
    c->ctx = pa_context_new(pa_threaded_mainloop_get_api(c->mainloop), name.c_str());
    if (!c->ctx) return Error{"Tandem.Pulse", 1, "Can't make a PulseAudio context"};
    pa_context_set_state_callback(
        c->ctx, [](pa_context*, void* loop) { signalLoop(static_cast<pa_threaded_mainloop*>(loop)); },
        c->mainloop);
    if (pa_context_connect(c->ctx, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return Error{"Tandem.Pulse", 1,
                     std::string("No PulseAudio server: ") + pa_strerror(pa_context_errno(c->ctx))};
    if (pa_threaded_mainloop_start(c->mainloop) < 0)
        return Error{"Tandem.Pulse", 1, "Can't start PulseAudio's loop"};
    Lock lock(*c);
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(c->ctx);
        if (state == PA_CONTEXT_READY) break;
        if (!PA_CONTEXT_IS_GOOD(state))
            return Error{"Tandem.Pulse", 1,
                         std::string("No PulseAudio server: ") + pa_strerror(pa_context_errno(c->ctx))};
        pa_threaded_mainloop_wait(c->mainloop);
    }
    return c;
}

Connection::~Connection() {
    if (mainloop) pa_threaded_mainloop_stop(mainloop);
    if (ctx) {
        pa_context_disconnect(ctx);
        pa_context_unref(ctx);
    }
    if (mainloop) pa_threaded_mainloop_free(mainloop);
}

bool Connection::good() {
    return PA_CONTEXT_IS_GOOD(pa_context_get_state(ctx));
}

std::string Connection::lastError() {
    return pa_strerror(pa_context_errno(ctx));
}

bool Connection::wait(pa_operation* operation) {
    if (!operation) return false;
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING && good())
        pa_threaded_mainloop_wait(mainloop);
    const bool done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
    if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) pa_operation_cancel(operation);
    pa_operation_unref(operation);
    return done;
}

std::vector<SinkInput> Connection::sinkInputs() {
    struct Query {
        pa_threaded_mainloop* loop;
        std::vector<SinkInput> list;
    } query{mainloop, {}};
    Lock lock(*this);
    wait(pa_context_get_sink_input_info_list(
        ctx,
        [](pa_context*, const pa_sink_input_info* info, int last, void* data) {
            auto* q = static_cast<Query*>(data);
            if (last) return signalLoop(q->loop);
            SinkInput input;
            input.index = info->index;
            input.sink = info->sink;
            if (const char* pid = pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_ID)) {
                char* end = nullptr;
                const long value = std::strtol(pid, &end, 10);
                if (end && *end == '\0' && value > 0) input.process = int32_t(value);
            }
            q->list.push_back(input);
        },
        &query));
    return query.list;
}

std::vector<Sink> Connection::sinks() {
    struct Query {
        pa_threaded_mainloop* loop;
        std::vector<Sink> list;
    } query{mainloop, {}};
    Lock lock(*this);
    wait(pa_context_get_sink_info_list(
        ctx,
        [](pa_context*, const pa_sink_info* info, int last, void* data) {
            auto* q = static_cast<Query*>(data);
            if (last) return signalLoop(q->loop);
            q->list.push_back({info->index, info->name ? info->name : "",
                               info->description ? info->description : "",
                               info->monitor_source_name ? info->monitor_source_name : ""});
        },
        &query));
    return query.list;
}

std::vector<Source> Connection::sources() {
    struct Query {
        pa_threaded_mainloop* loop;
        std::vector<Source> list;
    } query{mainloop, {}};
    Lock lock(*this);
    wait(pa_context_get_source_info_list(
        ctx,
        [](pa_context*, const pa_source_info* info, int last, void* data) {
            auto* q = static_cast<Query*>(data);
            if (last) return signalLoop(q->loop);
            q->list.push_back({info->name ? info->name : "", info->description ? info->description : "",
                               info->monitor_of_sink != PA_INVALID_INDEX});
        },
        &query));
    return query.list;
}

std::optional<std::string> Connection::defaultSink() {
    struct Query {
        pa_threaded_mainloop* loop;
        std::optional<std::string> name;
    } query{mainloop, {}};
    Lock lock(*this);
    wait(pa_context_get_server_info(
        ctx,
        [](pa_context*, const pa_server_info* info, void* data) {
            auto* q = static_cast<Query*>(data);
            if (info && info->default_sink_name) q->name = info->default_sink_name;
            signalLoop(q->loop);
        },
        &query));
    return query.name;
}

std::optional<uint32_t> Connection::loadModule(const std::string& name, const std::string& arguments) {
    struct Query {
        pa_threaded_mainloop* loop;
        uint32_t index = PA_INVALID_INDEX;
    } query{mainloop};
    Lock lock(*this);
    wait(pa_context_load_module(
        ctx, name.c_str(), arguments.c_str(),
        [](pa_context*, uint32_t index, void* data) {
            auto* q = static_cast<Query*>(data);
            q->index = index;
            signalLoop(q->loop);
        },
        &query));
    if (query.index == PA_INVALID_INDEX) return std::nullopt;
    return query.index;
}

namespace {

struct Success {
    pa_threaded_mainloop* loop;
    bool ok = false;
};

void succeeded(pa_context*, int ok, void* data) {
    auto* s = static_cast<Success*>(data);
    s->ok = ok != 0;
    signalLoop(s->loop);
}

} // namespace

bool Connection::unloadModule(uint32_t index) {
    Success success{mainloop};
    Lock lock(*this);
    wait(pa_context_unload_module(ctx, index, succeeded, &success));
    return success.ok;
}

bool Connection::moveSinkInput(uint32_t input, uint32_t sink) {
    Success success{mainloop};
    Lock lock(*this);
    wait(pa_context_move_sink_input_by_index(ctx, input, sink, succeeded, &success));
    return success.ok;
}

bool Connection::moveSinkInput(uint32_t input, const std::string& sink) {
    Success success{mainloop};
    Lock lock(*this);
    wait(pa_context_move_sink_input_by_name(ctx, input, sink.c_str(), succeeded, &success));
    return success.ok;
}

} // namespace tandem::pulse
