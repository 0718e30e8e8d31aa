#include "platform/linux/LinuxWorkspace.h"

#include "platform/linux/Spawn.h"
#include "platform/linux/Subscription.h"
#include "platform/linux/X11Support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace tandem {

namespace fs = std::filesystem;

namespace {

bool isProcessNumber(const std::string& name) {
    return !name.empty() && name.size() < 10 &&
           std::all_of(name.begin(), name.end(), [](char c) { return std::isdigit(uint8_t(c)); });
}

// A process that ended but was not reaped yet is no longer running.
bool isZombie(const fs::path& process) {
    std::ifstream stat(process / "stat");
    std::string line;
    if (!std::getline(stat, line)) return false;
    auto close = line.rfind(')'); // the name in parentheses may itself hold spaces and parentheses
    return close != std::string::npos && close + 2 < line.size() &&
           (line[close + 2] == 'Z' || line[close + 2] == 'X');
}

std::optional<std::string> commandOf(const fs::path& process) {
    std::ifstream comm(process / "comm");
    std::string command;
    if (!std::getline(comm, command)) return std::nullopt; // the process ended meanwhile
    return command;
}

std::vector<RunningApplication> scan(const LinuxWorkspace::Names& names, const fs::path& proc) {
    std::vector<RunningApplication> running;
    std::error_code error;
    for (fs::directory_iterator it(proc, error), end; !error && it != end; it.increment(error)) {
        const std::string pid = it->path().filename().string();
        if (!isProcessNumber(pid)) continue;
        auto command = commandOf(it->path());
        if (!command || isZombie(it->path())) continue;
        for (const auto& [bundle, executable] : names) {
            if (executable == *command) {
                running.push_back({bundle, static_cast<int32_t>(std::stol(pid)), false, *command});
            }
        }
    }
    return running;
}

// The record of any process, known application or not (its bundle identifier then empty).
std::optional<RunningApplication> recordOf(const LinuxWorkspace::Names& names, const fs::path& proc,
                                           int32_t pid) {
    const fs::path process = proc / std::to_string(pid);
    auto command = commandOf(process);
    if (!command || isZombie(process)) return std::nullopt;
    RunningApplication record{"", pid, false, *command, true};
    for (const auto& [bundle, executable] : names) {
        if (executable == *command) {
            record.bundleIdentifier = bundle;
            break;
        }
    }
    return record;
}

std::optional<int32_t> frontmostProcess(x11::Connection& connection) {
    auto use = connection.use();
    if (!use) return std::nullopt;
    auto window = x11::activeWindow(use.display);
    if (!window) return std::nullopt;
    return x11::processIdentifier(use.display, *window);
}

using Notices = Subscription<RunningApplication>;

class Watch final : public Observation {
public:
    Watch(WorkspaceNotice notice, LinuxWorkspace::Names names, fs::path proc,
          std::shared_ptr<Notices> notices)
        : notice(notice)
        , names(std::move(names))
        , proc(std::move(proc))
        , notices(std::move(notices)) {
        // The first look is taken now, so whatever happens after observe returns is noticed.
        if (notice == WorkspaceNotice::didActivate) {
            frontmost = frontmostProcess(connection);
        } else {
            known = scan(this->names, this->proc);
        }
        thread = std::thread([this] { run(); });
    }
    ~Watch() override {
        {
            std::lock_guard guard(lock);
            stopping = true;
        }
        wake.notify_all();
        thread.join();
        notices->end();
    }

private:
    void run() {
        std::unique_lock guard(lock);
        while (!wake.wait_for(guard, std::chrono::duration<double>(LinuxWorkspace::pollInterval),
                              [this] { return stopping; })) {
            guard.unlock();
            look();
            guard.lock();
        }
    }

    void look() {
        if (notice == WorkspaceNotice::didActivate) {
            auto now = frontmostProcess(connection);
            if (now && now != frontmost) {
                if (auto record = recordOf(names, proc, *now)) notices->deliver(*record);
            }
            frontmost = now;
            return;
        }
        auto current = scan(names, proc);
        auto same = [](const RunningApplication& a, const RunningApplication& b) {
            return a.processIdentifier == b.processIdentifier && a.bundleIdentifier == b.bundleIdentifier;
        };
        auto contains = [&](const std::vector<RunningApplication>& list, const RunningApplication& a) {
            return std::any_of(list.begin(), list.end(), [&](const auto& b) { return same(a, b); });
        };
        if (notice == WorkspaceNotice::didLaunch) {
            for (const auto& application : current) {
                if (!contains(known, application)) notices->deliver(application);
            }
        } else {
            for (auto application : known) {
                if (contains(current, application)) continue;
                application.terminated = true;
                notices->deliver(application);
            }
        }
        known = std::move(current);
    }

    const WorkspaceNotice notice;
    const LinuxWorkspace::Names names;
    const fs::path proc;
    std::shared_ptr<Notices> notices;
    x11::Connection connection;
    std::vector<RunningApplication> known;
    std::optional<int32_t> frontmost;
    std::mutex lock;
    std::condition_variable wake;
    bool stopping = false;
    std::thread thread;
};

} // namespace

LinuxWorkspace::LinuxWorkspace(Names names, fs::path proc)
    : names(std::move(names))
    , proc(std::move(proc))
    , display(std::make_unique<x11::Connection>()) {}

LinuxWorkspace::~LinuxWorkspace() = default;

LinuxWorkspace::Names LinuxWorkspace::defaultNames() {
    return {{"com.elf-audio.koala-mac", "koala"}, {"com.elf-audio.koala-mac", "Koala"}};
}

void LinuxWorkspace::answerFor(std::string bundleIdentifier, FindApplication find,
                               ActivateApplication activate) {
    std::lock_guard guard(answerLock);
    answered = Answer{std::move(bundleIdentifier), std::move(find), std::move(activate)};
}

std::optional<LinuxWorkspace::Answer> LinuxWorkspace::answer() const {
    std::lock_guard guard(answerLock);
    return answered;
}

std::vector<RunningApplication> LinuxWorkspace::runningApplications() {
    auto running = scan(names, proc);
    auto hook = answer();
    if (!hook) return running;
    std::erase_if(running, [&](const RunningApplication& application) {
        return application.bundleIdentifier == hook->bundleIdentifier;
    });
    if (hook->find) {
        if (auto application = hook->find()) running.push_back(std::move(*application));
    }
    return running;
}

std::optional<std::filesystem::path> LinuxWorkspace::urlForApplication(const std::string& bundleIdentifier) {
    const char* path = std::getenv("PATH");
    if (!path) return std::nullopt;
    auto [first, last] = names.equal_range(bundleIdentifier);
    std::string folders = path;
    size_t start = 0;
    while (start <= folders.size()) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos) end = folders.size();
        const std::string folder = folders.substr(start, end - start);
        start = end + 1;
        if (folder.empty()) continue; // an empty entry means the working folder: never trusted here
        for (auto it = first; it != last; ++it) {
            const fs::path candidate = fs::path(folder) / it->second;
            std::error_code error;
            if (fs::is_regular_file(candidate, error) && ::access(candidate.c_str(), X_OK) == 0)
                return candidate;
        }
    }
    return std::nullopt;
}

void LinuxWorkspace::openApplication(const std::filesystem::path& location, OpenCompletion completion) {
    std::thread([names = names, proc = proc, location, completion = std::move(completion)] {
        // A copy already running from this very file is the application asked for.
        std::error_code error;
        const fs::path target = fs::canonical(location, error);
        for (fs::directory_iterator it(proc, error), end; !error && it != end; it.increment(error)) {
            const std::string pid = it->path().filename().string();
            if (!isProcessNumber(pid)) continue;
            std::error_code unreadable;
            if (target.empty() || fs::read_symlink(it->path() / "exe", unreadable) != target) continue;
            if (auto record = recordOf(names, proc, int32_t(std::stol(pid)))) {
                completion(record, std::nullopt);
                return;
            }
        }
        spawn::Request request;
        request.program = location;
        request.newSession = true;
        pid_t pid = 0;
        if (int failure = spawn::start(request, &pid)) {
            completion(std::nullopt, posixError("Could not open " + location.string(), failure));
            return;
        }
        auto record = recordOf(names, proc, pid);
        if (!record) {
            // Ended already, or a /proc that does not show it: the name the kernel would give it.
            record = RunningApplication{"", pid, false, location.filename().string().substr(0, 15), true};
            for (const auto& [bundle, executable] : names) {
                if (executable == record->localizedName) {
                    record->bundleIdentifier = bundle;
                    break;
                }
            }
        }
        completion(record, std::nullopt);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

bool LinuxWorkspace::activate(int32_t processIdentifier, unsigned options) {
    if (auto hook = answer(); hook && hook->find && hook->activate && processIdentifier > 0) {
        auto application = hook->find();
        if (application && application->processIdentifier == processIdentifier)
            return hook->activate(processIdentifier, options);
    }
    auto use = display->use();
    if (!use || processIdentifier <= 0) return false;
    Display* x = use.display;
    auto windows = x11::windowsOf(x, processIdentifier, true);
    if (windows.empty()) return false;
    // Back to front, so the front window ends in front of the others.
    std::vector<Window> order{windows.front()};
    if (options & activateAllWindows) order.assign(windows.rbegin(), windows.rend());
    if (x11::hasWindowManager(x)) {
        for (Window window : order)
            x11::sendToRoot(x, window, "_NET_ACTIVE_WINDOW", {2, CurrentTime, 0, 0, 0});
        return true;
    }
    for (Window window : order)
        XRaiseWindow(x, window);
    XSetInputFocus(x, windows.front(), RevertToParent, CurrentTime);
    XSync(x, False);
    return true;
}

bool LinuxWorkspace::terminate(int32_t processIdentifier) {
    return processIdentifier > 0 && ::kill(processIdentifier, SIGTERM) == 0;
}

std::optional<RunningApplication> LinuxWorkspace::frontmostApplication() {
    auto pid = frontmostProcess(*display);
    if (!pid) return std::nullopt;
    if (auto hook = answer(); hook && hook->find) {
        if (auto application = hook->find(); application && application->processIdentifier == *pid)
            return application;
    }
    return recordOf(names, proc, *pid);
}

ObservationToken LinuxWorkspace::observe(WorkspaceNotice notice, std::shared_ptr<Queue> queue,
                                         std::function<void(const RunningApplication&)> handler) {
    auto notices = std::make_shared<Notices>(
        std::move(queue), [handler = std::move(handler)](RunningApplication a) { handler(a); });
    return std::make_unique<Watch>(notice, names, proc, std::move(notices));
}

bool LinuxWorkspace::openURL(const std::string& url) {
    spawn::Request request;
    request.program = "xdg-open";
    request.arguments = {url};
    request.searchPath = true;
    request.newSession = true;
    pid_t pid = 0;
    if (spawn::start(request, &pid) != 0) return false;
    spawn::reapLater(pid);
    return true;
}

std::optional<std::string> LinuxWorkspace::applicationVersion(const std::filesystem::path&) {
    return std::nullopt;
}

} // namespace tandem
