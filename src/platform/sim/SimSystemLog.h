#pragma once

#include "platform/SystemLog.h"

#include <mutex>

namespace tandem {

// The system log as a script: a test writes lines into the stream that is open and ends it; a stream
// can also refuse to start or end as soon as it starts.
class SimSystemLog final : public SystemLog {
public:
    ObservationToken stream(std::shared_ptr<Queue> queue, std::function<void(const std::string&)> line,
                            std::function<void()> ended) override;

    // A line of the open stream (nothing happens without one); false when none is open.
    bool emit(const std::string& line);
    // The open stream ends.
    bool end();
    // The next `times` starts fail outright.
    void failStarts(int times);
    // Streams started from now on end at once, as when the log command is missing.
    void setEndsAtOnce(bool endsAtOnce);

    int streamsStarted();
    bool streaming();

    struct Stream;

private:
    std::mutex lock;
    std::shared_ptr<Stream> current;
    int started = 0;
    int failing = 0;
    bool endsAtOnce = false;
};

} // namespace tandem
