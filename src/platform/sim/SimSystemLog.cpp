#include "platform/sim/SimSystemLog.h"

#include <atomic>

namespace tandem {

struct SimSystemLog::Stream {
    std::shared_ptr<Queue> queue;
    std::function<void(const std::string&)> line;
    std::function<void()> ended;
    std::atomic<bool> live{true};
};

namespace {

class StreamToken final : public Observation {
public:
    explicit StreamToken(std::shared_ptr<SimSystemLog::Stream> stream)
        : stream(std::move(stream)) {}
    ~StreamToken() override { stream->live = false; }

private:
    std::shared_ptr<SimSystemLog::Stream> stream;
};

void finish(const std::shared_ptr<SimSystemLog::Stream>& stream) {
    stream->queue->async([stream] {
        if (stream->live.exchange(false)) stream->ended();
    });
}

} // namespace

ObservationToken SimSystemLog::stream(std::shared_ptr<Queue> queue,
                                      std::function<void(const std::string&)> line,
                                      std::function<void()> ended) {
    std::lock_guard guard(lock);
    if (failing > 0) {
        --failing;
        return nullptr;
    }
    ++started;
    auto stream = std::make_shared<Stream>();
    stream->queue = std::move(queue);
    stream->line = std::move(line);
    stream->ended = std::move(ended);
    if (endsAtOnce) {
        finish(stream);
    } else {
        current = stream;
    }
    return std::make_unique<StreamToken>(stream);
}

bool SimSystemLog::emit(const std::string& text) {
    std::lock_guard guard(lock);
    if (!current || !current->live) return false;
    current->queue->async([stream = current, text] {
        if (stream->live) stream->line(text);
    });
    return true;
}

bool SimSystemLog::end() {
    std::lock_guard guard(lock);
    if (!current || !current->live) return false;
    finish(current);
    current.reset();
    return true;
}

void SimSystemLog::failStarts(int times) {
    std::lock_guard guard(lock);
    failing = times;
}

void SimSystemLog::setEndsAtOnce(bool value) {
    std::lock_guard guard(lock);
    endsAtOnce = value;
}

int SimSystemLog::streamsStarted() {
    std::lock_guard guard(lock);
    return started;
}

bool SimSystemLog::streaming() {
    std::lock_guard guard(lock);
    return current && current->live;
}

} // namespace tandem
