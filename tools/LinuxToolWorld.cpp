#include "tools/LinuxToolWorld.h"

#include "base/ThreadQueue.h"
#include "platform/linux/AlsaMidiSystem.h"
#include "platform/linux/JournalSystemLog.h"
#include "platform/linux/LibUsbHost.h"
#include "platform/linux/LinuxAudioDevices.h"
#include "platform/linux/LinuxDisplays.h"
#include "platform/linux/LinuxHid.h"
#include "platform/linux/LinuxPower.h"
#include "platform/linux/LinuxProcesses.h"

#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace tandem {

namespace {

class Machine final : public LinuxToolMachine {
public:
    explicit Machine(const std::string& program)
        : main(std::make_shared<ThreadQueue>(program + ".main"))
        , logReader(std::make_shared<ThreadQueue>(program + ".syslog"))
        , tools{SystemClock::shared(),
                main,
                logReader,
                midi,
                usb,
                hid,
                displays,
                audio,
                systemLog,
                power,
                processes,
                home(),
                [this] { runUntilEnded(); },
                [](double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }} {
    }

    ~Machine() override {
        logReader->stop();
        main->stop();
    }

    ToolWorld& world() override { return tools; }

private:
    static std::filesystem::path home() {
        const char* value = std::getenv("HOME");
        return value && *value ? value : "/";
    }

    void runUntilEnded() {
        std::mutex lock;
        std::condition_variable changed;
        bool ended = false;
        auto end = [&] {
            std::lock_guard guard(lock);
            ended = true;
            changed.notify_all();
        };
        auto term = processes.watchSignal(SIGTERM, main, end);
        auto interrupt = processes.watchSignal(SIGINT, main, end);
        std::unique_lock guard(lock);
        changed.wait(guard, [&] { return ended; });
        guard.unlock();
        // The watches go on the main queue, where their handler may still be finishing.
        main->sync([&] {
            term.reset();
            interrupt.reset();
        });
    }

    std::shared_ptr<ThreadQueue> main;
    std::shared_ptr<ThreadQueue> logReader;
    AlsaMidiSystem midi;
    LibUsbHost usb;
    LinuxHid hid;
    LinuxDisplays displays;
    LinuxAudioDevices audio;
    JournalSystemLog systemLog;
    LinuxPower power;
    LinuxProcesses processes;
    ToolWorld tools;
};

} // namespace

std::unique_ptr<LinuxToolMachine> LinuxToolMachine::make(const std::string& program) {
    return std::make_unique<Machine>(program);
}

} // namespace tandem
