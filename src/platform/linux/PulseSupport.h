#pragma once

#include "base/Error.h"

#include <pulse/pulseaudio.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tandem::pulse {

struct SinkInput {
    uint32_t index = 0;
    uint32_t sink = 0;
    std::optional<int32_t> process; // "application.process.id"
};

struct Sink {
    uint32_t index = 0;
    std::string name;
    std::string description;
    std::string monitorSource;
};

struct Source {
    std::string name;
    std::string description;
    bool monitor = false; // a sink's monitor, not an input
};

// One connection to the PulseAudio server on a threaded main loop. Every query waits for its answer
// but never longer than the server takes to answer or drop the connection; with no server,
// `connect` fails at once (no autospawn).
class Connection {
public:
    static Result<std::unique_ptr<Connection>> connect(const std::string& name);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    pa_threaded_mainloop* loop() { return mainloop; }
    pa_context* context() { return ctx; }

    // Holds the main loop's lock for a scope (not on the loop's own thread).
    class Lock {
    public:
        explicit Lock(Connection& c)
            : c(c) {
            pa_threaded_mainloop_lock(c.mainloop);
        }
        ~Lock() { pa_threaded_mainloop_unlock(c.mainloop); }

    private:
        Connection& c;
    };

    // With the lock held: waits until the operation ends or the connection fails; false then.
    bool wait(pa_operation* operation);
    bool good();

    std::vector<SinkInput> sinkInputs();
    std::vector<Sink> sinks();
    std::vector<Source> sources();
    std::optional<std::string> defaultSink();
    std::optional<uint32_t> loadModule(const std::string& name, const std::string& arguments);
    bool unloadModule(uint32_t index);
    bool moveSinkInput(uint32_t input, uint32_t sink);
    bool moveSinkInput(uint32_t input, const std::string& sink);

    std::string lastError();

private:
    Connection() = default;
    pa_threaded_mainloop* mainloop = nullptr;
    pa_context* ctx = nullptr;
};

} // namespace tandem::pulse
