// The Linux capture adapters: time stamps brought to the host clock per device, every adapter failing
// cleanly without a camera, an X server or a sound server, and, against real servers this test starts
// itself, Koala's sound tapped alone from a PulseAudio daemon and Koala's window grabbed from Xvfb.
#include "platform/linux/FfmpegMedia.h"
#include "platform/linux/MediaClock.h"
#include "platform/linux/PulseAudio.h"
#include "platform/linux/PulseSupport.h"

#include "base/Clock.h"
#include "base/ThreadQueue.h"
#include "support/ScratchHome.h"
#include "tandem/webcam/sources/KoalaAudioTap.h"
#include "tandem/webcam/sources/WebcamSourceTexts.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <numbers>
#include <thread>

// Xlib last: its macros clash with names in the headers above.
#include "X11TestClient.h"

extern char** environ;

namespace tandem {
namespace {

using testing::eventually;
using testing::ScratchHome;

// A child process of the test: started with the test's environment plus `extra`, its standard output
// (and `fd3`, when given) into files; killed and reaped when dropped.
class Child {
public:
    Child(const std::vector<std::string>& argv, const std::filesystem::path& output,
          std::optional<std::filesystem::path> fd3 = std::nullopt) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (fd3)
            posix_spawn_file_actions_addopen(&actions, 3, fd3->c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<char*> args;
        for (const std::string& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        if (posix_spawn(&id, argv[0].c_str(), &actions, nullptr, args.data(), environ) != 0) id = 0;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() {
        if (id <= 0) return;
        ::kill(id, SIGTERM);
        for (int i = 0; i < 200; ++i) {
            if (::waitpid(id, nullptr, WNOHANG) == id) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(id, SIGKILL);
        ::waitpid(id, nullptr, 0);
    }
    pid_t pid() const { return id; }
    bool running() { return id > 0 && ::waitpid(id, nullptr, WNOHANG) == 0; }

private:
    pid_t id = 0;
};

// Sets an environment variable for a scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value)
        : name(name) {
        if (const char* old = std::getenv(name)) previous = old;
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (previous)
            setenv(name, previous->c_str(), 1);
        else
            unsetenv(name);
    }

private:
    const char* name;
    std::optional<std::string> previous;
};

double seconds(clockid_t id) {
    timespec now{};
    clock_gettime(id, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

TEST(MediaClock, EachDevicesStampsReachTheHostClockByTheirOwnRule) {
    EXPECT_EQ(media::stampClockOf("x11grab"), media::StampClock::wall);
    EXPECT_EQ(media::stampClockOf("pulse"), media::StampClock::wall);
    EXPECT_EQ(media::stampClockOf("video4linux2"), media::StampClock::monotonic);

    // Worked readings: the wall clock 1.7e9 s, the kernel's monotonic 5000 s, the host 100 s.
    const media::ClockReadings readings{100.0, 1.7e9, 5000.0};
    EXPECT_NEAR(media::hostTime(int64_t(1.7e9 * 1e6) - 250000, media::StampClock::wall, readings), 99.75,
                1e-6);
    EXPECT_NEAR(media::hostTime(int64_t(4999.5 * 1e6), media::StampClock::monotonic, readings), 99.5, 1e-6);

    // Against this machine's clocks: a stamp taken now, on either clock, lands within a few
    // milliseconds of the host clock's now.
    const double host = SystemClock::shared().uptime();
    const auto now = media::readClocks();
    const int64_t wallStamp = int64_t(seconds(CLOCK_REALTIME) * 1e6);
    const int64_t monotonicStamp = int64_t(seconds(CLOCK_MONOTONIC) * 1e6);
    EXPECT_NEAR(media::hostTime(wallStamp, media::StampClock::wall, now), host, 0.005);
    EXPECT_NEAR(media::hostTime(monotonicStamp, media::StampClock::monotonic, now), host, 0.005);
}

TEST(LinuxMediaAdapters, WithoutDevicesOrServersEveryAdapterFailsCleanlyAndAtOnce) {
    ScratchHome home;
    const auto runtime = home.path() / "run";
    std::filesystem::create_directories(runtime);
    ScopedEnv noDisplay("DISPLAY", std::nullopt);
    ScopedEnv runtimeDir("XDG_RUNTIME_DIR", runtime.string());
    ScopedEnv noServer("PULSE_SERVER", "unix:" + (runtime / "nothing-here").string());
    const auto started = std::chrono::steady_clock::now();

    FfmpegCameras cameras;
    if (!std::filesystem::exists("/dev/video0")) {
        EXPECT_TRUE(cameras.devices().empty());
    }
    auto camera = cameras.open({"/dev/video-none", "Nothing", CameraKind::external});
    ASSERT_FALSE(camera);
    EXPECT_EQ(mediaFailure(camera.error()), MediaFailure::failed);

    X11GrabCapture screen;
    EXPECT_FALSE(screen.contentAvailable());
    auto queue = std::make_shared<ThreadQueue>("Tandem screen capture");
    ScreenCaptureTarget target{0, {0, 0, 1440, 900}, 1, 0x400001, {0, 0, 600, 400}};
    ScreenStreamConfiguration configuration;
    configuration.sourceRect = {0, 0, 600, 400};
    configuration.width = 1200;
    configuration.height = 800;
    auto stream = screen.makeStream(target, configuration, queue, {});
    std::optional<Error> failure;
    stream->start([&](std::optional<Error> error) { failure = error; });
    ASSERT_TRUE(failure);
    stream->stop();

    PulseAudioTaps taps;
    auto tap =
        KoalaAudioTap::make(taps, ::getpid(), true, "", [](const SampleBuffer&) { return std::nullopt; });
    ASSERT_FALSE(tap);
    EXPECT_EQ(tap.error(), (Error{"Tandem.AudioTap", 1, "Can't start Koala's sound capture"}));

    PulseAudioOutputs outputs;
    EXPECT_TRUE(outputs.devices().empty());
    auto player = outputs.makePlayer(std::nullopt);
    EXPECT_FALSE(player->start(48000, 2));
    bool played = false;
    player->schedule(SampleBuffer::makeFloat(48000, 2, 480), [&] { played = true; });
    EXPECT_TRUE(eventually([&] { return played; }, 2)); // a player that never started lets go at once
    player->stop();

    PulseMicrophones microphones;
    EXPECT_TRUE(microphones.devices().empty());
    auto microphone = microphones.open({"default", "Default"}, queue, {});
    EXPECT_FALSE(microphone);

    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(), 10.0);
}

// A 16-bit stereo WAV of a sine at half scale.
void writeTone(const std::filesystem::path& file, double frequency, double seconds) {
    const uint32_t rate = 48000, frames = uint32_t(rate * seconds), bytes = frames * 4;
    std::ofstream out(file, std::ios::binary);
    auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    out.write("RIFF", 4);
    u32(36 + bytes);
    out.write("WAVEfmt ", 8);
    for (uint32_t v : {16u, 1u | 2u << 16, rate, rate * 4, 4u | 16u << 16})
        u32(v);
    out.write("data", 4);
    u32(bytes);
    for (uint32_t i = 0; i < frames; ++i) {
        const auto v = int16_t(std::lround(16384 * std::sin(2 * std::numbers::pi * frequency * i / rate)));
        u32(uint32_t(uint16_t(v)) * 0x10001u); // left and right alike
    }
}

// The amplitude of one frequency in the samples (Goertzel), of channel 0.
double amplitude(const std::vector<float>& mono, double frequency, double rate) {
    const double w = 2 * std::numbers::pi * frequency / rate, k = 2 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (float x : mono) {
        const double s = x + k * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    const double power = s1 * s1 + s2 * s2 - k * s1 * s2;
    return 2 * std::sqrt(std::max(0.0, power)) / double(mono.size());
}

// A PulseAudio daemon of the test's own, in a scratch runtime folder, with a null sink "speakers".
struct PulseServer {
    ScratchHome home;
    std::filesystem::path runtime = home.path() / "run";
    std::unique_ptr<ScopedEnv> runtimeDir, server, noAutospawn;
    std::unique_ptr<Child> daemon;
    std::string problem;

    PulseServer() {
        if (!std::filesystem::exists("/usr/bin/pulseaudio")) {
            problem = "pulseaudio is not installed (scripts/setup installs it)";
            return;
        }
        std::filesystem::create_directories(runtime / "pulse");
        runtimeDir = std::make_unique<ScopedEnv>("XDG_RUNTIME_DIR", runtime.string());
        const auto socket = runtime / "pulse" / "native";
        server = std::make_unique<ScopedEnv>("PULSE_SERVER", "unix:" + socket.string());
        noAutospawn = std::make_unique<ScopedEnv>("PULSE_NO_AUTOSPAWN", "1");
        daemon = std::make_unique<Child>(
            std::vector<std::string>{"/usr/bin/pulseaudio", "--system=no", "-n", "--daemonize=no",
                                     "--exit-idle-time=-1", "--disable-shm=yes", "--use-pid-file=no", "-L",
                                     "module-native-protocol-unix auth-anonymous=1 socket=" + socket.string(),
                                     "-L", "module-null-sink sink_name=speakers", "--log-target=stderr"},
            home.path() / "pulseaudio.log");
        if (!eventually([&] { return bool(pulse::Connection::connect("probe")); }, 10))
            problem = "PulseAudio did not start: " + ScratchHome::read(home.path() / "pulseaudio.log");
    }
    std::unique_ptr<Child> play(double frequency, const std::string& name) {
        const auto file = home.path() / (name + ".wav");
        writeTone(file, frequency, 30);
        return std::make_unique<Child>(std::vector<std::string>{"/usr/bin/paplay", "--client-name=" + name,
                                                                "--device=speakers", file.string()},
                                       home.path() / (name + ".log"));
    }
    std::optional<pulse::SinkInput> inputOf(pid_t pid) {
        auto c = pulse::Connection::connect("test");
        if (!c) return std::nullopt;
        for (const auto& input : c.value()->sinkInputs())
            if (input.process == pid) return input;
        return std::nullopt;
    }
};

TEST(PulseAudioTap, RecordsKoalasSoundAloneAtItsLevelAndListenMovesItAndBack) {
    PulseServer pulse;
    if (!pulse.problem.empty()) GTEST_SKIP() << pulse.problem;
    auto koala = pulse.play(440, "Koala");
    auto other = pulse.play(1000, "Other");
    ASSERT_TRUE(eventually([&] { return pulse.inputOf(koala->pid()) && pulse.inputOf(other->pid()); }, 10))
        << ScratchHome::read(pulse.home.path() / "Koala.log");
    const uint32_t speakers = pulse.inputOf(koala->pid())->sink;

    for (bool listen : {false, true}) {
        SCOPED_TRACE(listen ? "with LISTEN" : "without LISTEN");
        std::mutex lock;
        std::vector<float> heard;
        std::vector<SampleBuffer> buffers;
        PulseAudioTaps taps;
        auto tap = KoalaAudioTap::make(taps, koala->pid(), listen, "speakers",
                                       [&](const SampleBuffer& buffer) -> std::optional<SampleBuffer> {
                                           std::lock_guard guard(lock);
                                           buffers.push_back(buffer);
                                           for (size_t f = 0; f < buffer.frames; ++f)
                                               heard.push_back(buffer.floatAt(f, 0));
                                           return buffer;
                                       });
        ASSERT_TRUE(tap) << tap.error().description;
        if (listen) {
            EXPECT_NE(pulse.inputOf(koala->pid())->sink, speakers); // on Tandem's null sink
        }
        ASSERT_TRUE(eventually(
            [&] {
                std::lock_guard guard(lock);
                return heard.size() > 48000;
            },
            10));
        tap.value()->stop();
        std::lock_guard guard(lock);
        const std::vector<float> settled(heard.begin() + 9600, heard.end()); // past the start
        const double tone = amplitude(settled, 440, 48000), stranger = amplitude(settled, 1000, 48000);
        EXPECT_NEAR(tone, 0.5, 0.05);
        EXPECT_LT(stranger, 0.01);
        // Stamped on the host clock, recently, in order.
        EXPECT_NEAR(buffers.back().time, SystemClock::shared().uptime(), 1.0);
        for (size_t i = 1; i < buffers.size(); ++i)
            EXPECT_GT(buffers[i].time, buffers[i - 1].time);
        // Koala's sound is back where it was.
        EXPECT_EQ(pulse.inputOf(koala->pid())->sink, speakers);
    }
    // A process with no sound of its own.
    PulseAudioTaps taps;
    auto silent =
        KoalaAudioTap::make(taps, ::getpid(), false, "", [](const SampleBuffer&) { return std::nullopt; });
    ASSERT_FALSE(silent);
    EXPECT_EQ(silent.error().description,
              "Koala isn't playing sound yet. Play a pad, then open Webcam again.");
    // The null sink is a sound output too, and a player on it plays every buffer it is given.
    PulseAudioOutputs outputs;
    std::optional<uint32_t> id;
    for (const auto& device : outputs.devices())
        if (device.uid == "speakers") id = device.id;
    ASSERT_TRUE(id);
    auto player = outputs.makePlayer(id);
    ASSERT_TRUE(player->start(48000, 2));
    std::atomic<int> played{0};
    for (int i = 0; i < 20; ++i)
        player->schedule(SampleBuffer::makeFloat(48000, 2, 480), [&] { ++played; });
    EXPECT_TRUE(eventually([&] { return played == 20; }, 5));
    player->stop();
}

TEST(X11Grab, GrabsAPaintedWindowAtTheSizeAskedFor) {
    if (!std::filesystem::exists("/usr/bin/Xvfb"))
        GTEST_SKIP() << "Xvfb is not installed (scripts/setup installs it)";
    ScratchHome home;
    Child xvfb({"/usr/bin/Xvfb", "-displayfd", "3", "-screen", "0", "1440x900x24", "-nolisten", "tcp"},
               home.path() / "xvfb.log", home.path() / "display");
    std::string number;
    eventually(
        [&] {
            number = ScratchHome::read(home.path() / "display");
            while (!number.empty() && !std::isdigit(static_cast<unsigned char>(number.back())))
                number.pop_back();
            return !number.empty() || !xvfb.running();
        },
        10);
    if (number.empty()) GTEST_SKIP() << "Xvfb did not start: " << ScratchHome::read(home.path() / "xvfb.log");
    const std::string name = ":" + number;
    ScopedEnv display("DISPLAY", name);
    testing::XClient client(name.c_str());
    ASSERT_TRUE(client);
    const Rect frame{50, 60, 600, 400};
    Window window = client.create(frame, "Koala", std::nullopt, ExposureMask);
    ASSERT_TRUE(client.map(window));
    // Left half red, right half blue, a green square in the top-left corner.
    GC gc = XCreateGC(client.display, window, 0, nullptr);
    auto fill = [&](unsigned long colour, int x, int y, unsigned w, unsigned h) {
        XSetForeground(client.display, gc, colour);
        XFillRectangle(client.display, window, gc, x, y, w, h);
    };
    fill(0xFF0000, 0, 0, 300, 400);
    fill(0x0000FF, 300, 0, 300, 400);
    fill(0x00FF00, 0, 0, 40, 40);
    XSync(client.display, False);

    X11GrabCapture capture;
    EXPECT_TRUE(capture.contentAvailable());
    auto queue = std::make_shared<ThreadQueue>("Tandem screen capture");
    std::mutex lock;
    std::shared_ptr<const VideoFrame> latest;
    ScreenStreamHandlers handlers;
    handlers.onFrame = [&](std::shared_ptr<const VideoFrame> picture) {
        std::lock_guard guard(lock);
        latest = std::move(picture);
    };
    std::atomic<int> stops{0};
    handlers.onStop = [&](const Error&) { ++stops; };
    // 600 × 400 points: captured at double size, 1200 × 800.
    ScreenStreamConfiguration configuration;
    configuration.sourceRect = frame;
    configuration.width = 1200;
    configuration.height = 800;
    configuration.minimumFrameInterval = 1.0 / 30;
    auto stream = capture.makeStream({0, {0, 0, 1440, 900}, 1, uint32_t(window), frame}, configuration, queue,
                                     handlers);
    std::optional<std::optional<Error>> started;
    stream->start([&](std::optional<Error> error) { started = error; });
    ASSERT_TRUE(started);
    ASSERT_FALSE(*started) << (*started)->description;
    ASSERT_TRUE(eventually([&] {
        std::lock_guard guard(lock);
        return latest != nullptr;
    }));
    {
        std::lock_guard guard(lock);
        EXPECT_EQ(latest->width, 1200);
        EXPECT_EQ(latest->height, 800);
        EXPECT_EQ(latest->argb(300, 400) & 0xFFFFFF, 0xFF0000u);
        EXPECT_EQ(latest->argb(900, 400) & 0xFFFFFF, 0x0000FFu);
        EXPECT_EQ(latest->argb(30, 30) & 0xFFFFFF, 0x00FF00u);
        EXPECT_NEAR(latest->time, SystemClock::shared().uptime(), 1.0);
    }
    // A new region: the right half only, reopened at its own size.
    ScreenStreamConfiguration right = configuration;
    right.sourceRect = {frame.x + 300, frame.y, 300, 400};
    right.width = 600;
    right.height = 800;
    stream->update({0, {0, 0, 1440, 900}, 1, uint32_t(window), frame}, right);
    ASSERT_TRUE(eventually([&] {
        std::lock_guard guard(lock);
        return latest->width == 600;
    }));
    {
        std::lock_guard guard(lock);
        EXPECT_EQ(latest->argb(10, 10) & 0xFFFFFF, 0x0000FFu);
    }
    EXPECT_EQ(stops, 0); // the grab replaced by the update ended on purpose
    // Koala's window gone: the grab ends and says so.
    XFreeGC(client.display, gc);
    XDestroyWindow(client.display, window);
    XSync(client.display, False);
    EXPECT_TRUE(eventually([&] { return stops > 0; }, 5));
    stream->stop();
}

} // namespace
} // namespace tandem
