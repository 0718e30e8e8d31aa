#pragma once

#include "platform/SystemLog.h"

#include <optional>
#include <string>

namespace tandem {

// The system log through `journalctl -f -n 0 -o json`, one JSON record a line, narrowed to the
// MPC Touch's concerns and written in the compact form the monitor reads. A missing journalctl, or
// one that stops, ends the stream; the stream's token stops the program.
class JournalSystemLog final : public SystemLog {
public:
    explicit JournalSystemLog(std::string program = "journalctl")
        : program(std::move(program)) {}

    ObservationToken stream(std::shared_ptr<Queue> queue, std::function<void(const std::string&)> line,
                            std::function<void()> ended) override;

private:
    std::string program;
};

// One journal record (a JSON line) as "<date> <time> <level> <process>[<pid>] <message>" in local
// time, the kernel's as "kernel[0]"; nothing when the record is not JSON or is none of the monitor's
// business.
std::optional<std::string> compactJournalLine(const std::string& json);

} // namespace tandem
