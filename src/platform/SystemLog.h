#pragma once

#include "base/Queue.h"
#include "platform/Observation.h"

#include <functional>
#include <memory>
#include <string>

namespace tandem {

// The system log as a live stream of lines in the compact form
// "<date> <time> <level> <process>[<pid>] <message>", the kernel's lines as "kernel[0]", already
// narrowed to what concerns the MPC Touch: the kernel's USB, DisplayLink, hub, over-current and
// dfu-util messages, errors of DisplayLinkUserAgent, usbaudiod and MIDIServer, coreaudiod's RTAID and
// overload lines, and any dfu-util process. A stream may end at any time, even at once.
class SystemLog {
public:
    virtual ~SystemLog() = default;

    // Starts a stream: each line, then the end, is handed over on `queue`. Destroying the token stops
    // the stream; nothing is called after that. Null when no stream could be started at all.
    virtual ObservationToken stream(std::shared_ptr<Queue> queue,
                                    std::function<void(const std::string&)> line,
                                    std::function<void()> ended) = 0;
};

} // namespace tandem
