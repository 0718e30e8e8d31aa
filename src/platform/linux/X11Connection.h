#pragma once

#include <chrono>
#include <mutex>
#include <string>

// Xlib's own declaration, so that adapter headers need not include Xlib and its macros.
typedef struct _XDisplay Display;

namespace tandem::x11 {

// One connection to an X server, opened on first use and tried again on a later use while there is no
// server, so an adapter made before the server started still works once it runs. Xlib calls on the
// connection are made only while holding a Use, which serializes the adapter's threads.
class Connection {
public:
    // `name` as Xlib takes it (":0"); empty: $DISPLAY.
    explicit Connection(std::string name = {});
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    struct Use {
        std::unique_lock<std::mutex> lock;
        Display* display = nullptr; // nullptr: no server could be reached
        explicit operator bool() const { return display != nullptr; }
    };
    Use use();

    const std::string& name() const { return displayName; }

private:
    std::string displayName;
    std::mutex lock;
    Display* display = nullptr;
    bool attempted = false;
    std::chrono::steady_clock::time_point lastAttempt;
};

} // namespace tandem::x11
