#include "platform/linux/JournalSystemLog.h"

#include "platform/linux/Spawn.h"
#include "platform/linux/Subscription.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <thread>

namespace tandem {

namespace {

std::string lower(std::string text) {
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool has(const std::string& text, const char* word) {
    return text.find(word) != std::string::npos;
}

std::string field(const nlohmann::json& record, const char* key) {
    auto found = record.find(key);
    if (found == record.end()) return {};
    if (found->is_string()) return found->get<std::string>();
    // The journal gives a message that is not valid UTF-8 as an array of bytes.
    if (found->is_array()) {
        std::string bytes;
        for (const auto& byte : *found)
            if (byte.is_number_unsigned()) bytes.push_back(char(byte.get<unsigned>()));
        return bytes;
    }
    if (found->is_number()) return found->dump();
    return {};
}

// The monitor's filter: the kernel's USB and display words, errors of the display and audio helpers
// and of the MIDI server, the audio daemon's RTAID and overload lines, any dfu-util.
bool wanted(bool kernel, const std::string& process, int priority, const std::string& message) {
    std::string low = lower(message);
    bool error = priority <= 3;
    if (kernel)
        return has(low, "mpc") || has(message, "SiS HID") || has(low, "displaylink") ||
               has(low, "billboard") || has(low, "usb2.0 hub") || has(low, "overcurrent") ||
               has(low, "over-current") || has(low, "dfu-util");
    if (process == "DisplayLinkUserAgent" || process == "usbaudiod" || process == "MIDIServer") return error;
    if (process == "coreaudiod") return has(message, "RTAID") || has(low, "overload");
    return has(lower(process), "dfu-util");
}

} // namespace

std::optional<std::string> compactJournalLine(const std::string& json) {
    nlohmann::json record = nlohmann::json::parse(json, nullptr, false);
    if (!record.is_object()) return std::nullopt;
    bool kernel = field(record, "_TRANSPORT") == "kernel";
    std::string process = kernel ? "kernel" : field(record, "SYSLOG_IDENTIFIER");
    if (process.empty()) process = field(record, "_COMM");
    std::string pid;
    if (!kernel) pid = field(record, "_PID");
    if (!kernel && pid.empty()) pid = field(record, "SYSLOG_PID");
    if (pid.empty()) pid.push_back('0');
    std::string message = field(record, "MESSAGE");
    std::string priorityText = field(record, "PRIORITY");
    int priority = priorityText.empty() ? 6 : std::atoi(priorityText.c_str());
    if (!wanted(kernel, process, priority, message)) return std::nullopt;
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
        message.pop_back();
    for (char& c : message)
        if (c == '\n') c = ' ';

    long long micros = std::atoll(field(record, "__REALTIME_TIMESTAMP").c_str());
    std::time_t seconds = std::time_t(micros / 1000000);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    const char* level = priority <= 2   ? "Ft"
                        : priority == 3 ? "E "
                        : priority <= 5 ? "Df"
                        : priority == 6 ? "I "
                                        : "Db";
    char head[64];
    std::snprintf(head, sizeof head, "%s.%03d %s ", stamp, int(micros / 1000 % 1000), level);
    std::string compact = head;
    compact.append(process).append("[").append(pid).append("] ").append(message);
    return compact;
}

namespace {

class JournalStream final : public Observation {
public:
    JournalStream(std::shared_ptr<Subscription<std::string>> lines, std::shared_ptr<Subscription<>> end)
        : lines(std::move(lines))
        , end(std::move(end)) {}

    void start(const std::string& program) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            end->deliver();
            return;
        }
        ::pipe2(wake, O_CLOEXEC);
        spawn::Request request;
        request.program = program;
        request.arguments = {"-f", "-n", "0", "-o", "json"};
        request.searchPath = true;
        request.newGroup = true;
        request.output = ends[1];
        int error = spawn::start(request, &child);
        ::close(ends[1]);
        if (error != 0) {
            ::close(ends[0]);
            child = -1;
            end->deliver();
            return;
        }
        reader = std::thread([this, fd = ends[0]] { read(fd); });
    }

    ~JournalStream() override {
        lines->end();
        end->end();
        if (child > 0) ::kill(child, SIGTERM);
        if (wake[1] >= 0) {
            char stop = 0;
            ssize_t ignored = ::write(wake[1], &stop, 1);
            (void)ignored;
        }
        if (reader.joinable()) reader.join();
        if (child > 0) ::waitpid(child, nullptr, 0);
        for (int fd : wake)
            if (fd >= 0) ::close(fd);
    }

private:
    void read(int fd) {
        std::string pending;
        char buffer[8192];
        for (;;) {
            pollfd watched[2] = {{fd, POLLIN, 0}, {wake[0], POLLIN, 0}};
            if (::poll(watched, 2, -1) < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if (watched[1].revents) break; // stopped by the token
            ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) {
                end->deliver();
                break;
            }
            pending.append(buffer, size_t(got));
            size_t start = 0;
            for (size_t newline; (newline = pending.find('\n', start)) != std::string::npos;
                 start = newline + 1) {
                if (auto line = compactJournalLine(pending.substr(start, newline - start)))
                    lines->deliver(*line);
            }
            pending.erase(0, start);
            if (pending.size() > (1 << 20)) pending.clear(); // a record that never ends is dropped
        }
        ::close(fd);
    }

    std::shared_ptr<Subscription<std::string>> lines;
    std::shared_ptr<Subscription<>> end;
    pid_t child = -1;
    int wake[2] = {-1, -1};
    std::thread reader;
};

} // namespace

ObservationToken JournalSystemLog::stream(std::shared_ptr<Queue> queue,
                                          std::function<void(const std::string&)> line,
                                          std::function<void()> ended) {
    auto lines = std::make_shared<Subscription<std::string>>(
        queue, [line = std::move(line)](std::string text) { line(text); });
    auto end = std::make_shared<Subscription<>>(queue, std::move(ended));
    auto stream = std::make_unique<JournalStream>(lines, end);
    stream->start(program);
    return stream;
}

} // namespace tandem
