// Which sources the studio opens for each choice of sound and shape, what it says when one cannot
// open, what a settings change reopens, the camera ranks, and recording: the file's folder and name,
// the sound written only after the first frame, and every way a recording ends.
#include "StudioBench.h"

#include "tandem/webcam/studio/WebcamDevices.h"

#include "platform/sim/SimCameras.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace tandem {
namespace {

using testing::plainSettings;
using testing::StudioBench;

const std::string microphoneID = "BuiltInMicrophoneDevice";
const std::string notPlaying = "Koala isn't playing sound yet. Play a pad, then open Webcam again.";

TEST(WebcamDevices, ExternalFirstThenBuiltInThenVirtualKeepingTheSystemsOrder) {
    SimTime time;
    SimCameras cameras(time, time.makeQueue("camera device"));
    cameras.add({{"a", "FaceTime HD Camera", CameraKind::builtInWideAngle}});
    cameras.add({{"b", "OBS Virtual Camera", CameraKind::external}});
    cameras.add({{"c", "Logitech BRIO", CameraKind::external}});
    cameras.add({{"d", "NDI Webcam Input", CameraKind::external}});
    cameras.add({{"e", "iPhone Camera", CameraKind::continuity}});
    cameras.add({{"f", "Camo", CameraKind::external}});
    cameras.add({{"g", "Snap Camera", CameraKind::external}});
    cameras.add({{"h", "Elgato Facecam", CameraKind::external}});
    std::string order;
    for (const CameraDevice& device : WebcamDevices::cameras(cameras))
        order += device.uniqueID;
    EXPECT_EQ(order, "cehabdfg");
    EXPECT_EQ(WebcamDevices::rank({"x", "My VIRTUAL cam", CameraKind::builtInWideAngle}), 3);
    EXPECT_EQ(WebcamDevices::rank({"x", "FaceTime HD Camera", CameraKind::builtInWideAngle}), 2);
    EXPECT_EQ(WebcamDevices::rank({"x", "Studio Display Camera", CameraKind::external}), 0);
}

// The sources opened per sound choice and shape.
TEST(WebcamStudioSources, OpenAudioMatrix) {
    struct Case {
        std::string name;
        std::string audio;
        bool tutorial;
        bool soundKoala;                              // Koala has played a pad (the tap can find it)
        bool processTap;                              // the system can tap a process
        bool tap, microphone;                         // expected sources
        std::optional<bool> screenVideo, screenAudio; // the screen stream, when one is expected
        std::optional<std::string> problem;
    };
    const std::vector<Case> cases{
        {"Koala's sound by the tap, camera only", "koala", false, true, true, true, false, {}, {}, {}},
        {"Koala's sound by the tap, its window too", "koala", true, true, true, true, false, true, false, {}},
        {"a silent Koala: the screen brings the sound", "koala", false, false, true, false, false, false,
         true, notPlaying},
        {"a silent Koala in the tutorial", "koala", true, false, true, false, false, true, true, notPlaying},
        {"no process taps on this system", "koala", false, true, false, false, false, false, true, {}},
        {"a microphone", microphoneID, false, true, true, false, true, {}, {}, {}},
        {"a microphone with Koala's window", microphoneID, true, true, true, false, true, true, false, {}},
        {"a microphone that is gone",
         "unplugged",
         false,
         true,
         true,
         false,
         false,
         {},
         {},
         "That audio input isn't connected."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StudioBench bench;
        bench.processTap = c.processTap;
        if (c.soundKoala) {
            bench.soundKoala();
        } else {
            bench.launchKoala();
        }
        WebcamSettings settings = plainSettings();
        settings.audio = c.audio;
        settings.tutorial = c.tutorial;
        bench.start(settings);
        EXPECT_EQ(bench.studio->hasTap(), c.tap);
        EXPECT_EQ(bench.rig.audioTaps.running(), c.tap ? 1 : 0);
        EXPECT_EQ(bench.studio->hasMicrophone(), c.microphone);
        EXPECT_EQ(bench.rig.microphones.running(), c.microphone ? 1 : 0);
        const auto streams = bench.rig.screenCapture.streams();
        EXPECT_EQ(bench.studio->hasScreen(), c.screenVideo.has_value());
        if (c.screenVideo) {
            ASSERT_EQ(streams.size(), 1u);
            EXPECT_TRUE(streams[0].running);
            EXPECT_EQ(streams[0].configuration.capturesAudio, *c.screenAudio);
            EXPECT_EQ(streams[0].configuration.width > 64, *c.screenVideo);
        } else {
            EXPECT_TRUE(streams.empty());
        }
        if (c.problem) {
            EXPECT_TRUE(bench.said(*c.problem));
        } else {
            EXPECT_EQ(bench.lastProblem(), std::nullopt);
        }
        EXPECT_TRUE(bench.studio->hasCamera());
        // Sound reaches the chain from whichever source carries it.
        if (c.tap || c.microphone || c.screenAudio.value_or(false)) {
            bench.note(1, 127);
            bench.rig.time.advance(0.1);
            EXPECT_GT(bench.studio->meter().peak[0], -60) << "sound through the chain";
        }
    }
}

TEST(WebcamStudioSources, PermissionsAskedOnceWhenUndecidedAndTheirTextsWhenRefused) {
    {
        StudioBench bench;
        bench.rig.mediaPermissions.set(MediaKind::camera, MediaAuthorization::denied);
        bench.rig.mediaPermissions.set(MediaKind::microphone, MediaAuthorization::restricted);
        WebcamSettings settings = plainSettings();
        settings.audio = microphoneID;
        bench.start(settings);
        EXPECT_FALSE(bench.studio->hasCamera());
        EXPECT_FALSE(bench.studio->hasMicrophone());
        EXPECT_TRUE(bench.said("Allow Tandem in System Settings › Privacy & Security › Camera."));
        EXPECT_TRUE(bench.said("Allow Tandem in System Settings › Privacy & Security › Microphone."));
        EXPECT_EQ(bench.rig.mediaPermissions.requests(MediaKind::camera), 0);
        // Still composing, black.
        ASSERT_FALSE(bench.pictures.empty());
        EXPECT_EQ(bench.frame().pixel(960, 540), 0xFF000000);
    }
    {
        StudioBench bench;
        bench.rig.mediaPermissions.set(MediaKind::camera, MediaAuthorization::notDetermined);
        bench.rig.mediaPermissions.set(MediaKind::microphone, MediaAuthorization::notDetermined);
        bench.rig.mediaPermissions.setAnswer(MediaKind::microphone, false);
        WebcamSettings settings = plainSettings();
        settings.audio = microphoneID;
        bench.start(settings);
        EXPECT_TRUE(bench.studio->hasCamera());
        EXPECT_EQ(bench.rig.mediaPermissions.requests(MediaKind::camera), 1);
        EXPECT_FALSE(bench.studio->hasMicrophone());
        EXPECT_TRUE(bench.said("Allow Tandem in System Settings › Privacy & Security › Microphone."));
    }
    {
        SCOPED_TRACE("a camera in use: its own text, and the studio keeps running");
        StudioBench bench;
        bench.rig.cameras.setBehaviour("0x8020000005ac8514", SimCameras::Behaviour::inUse);
        bench.start(plainSettings());
        EXPECT_TRUE(bench.said("FaceTime HD Camera is in use by another app"));
        EXPECT_FALSE(bench.pictures.empty());
    }
}

TEST(WebcamStudioSources, ReopenRules) {
    StudioBench bench;
    bench.soundKoala();
    bench.rig.cameras.add({{"ext", "Logitech BRIO", CameraKind::external}, 1920, 1080});
    bench.start(plainSettings());
    ASSERT_TRUE(bench.studio->hasTap());
    EXPECT_EQ(bench.rig.cameras.running(), 1);
    auto counts = [&] {
        return std::tuple(bench.rig.cameras.running(), bench.rig.audioTaps.running(),
                          bench.rig.microphones.running(), bench.rig.screenCapture.streams().size());
    };
    {
        SCOPED_TRACE("the first camera by rank: the external one; naming it reopens that same device, "
                     "free again as soon as it is stopped; choosing the built-in reopens it");
        ASSERT_FALSE(bench.pictures.empty());
        EXPECT_EQ(bench.frame().pixel(960, 540) & 0xFFFFFF, 0x404040u);
        (void)bench.studio->update(true, [](WebcamSettings& s) { s.camera = "ext"; });
        bench.rig.time.advance(0.3);
        EXPECT_TRUE(bench.studio->hasCamera());
        EXPECT_EQ(bench.rig.cameras.running(), 1);
        EXPECT_FALSE(bench.said("Logitech BRIO is in use by another app"));
        (void)bench.studio->update(true, [](WebcamSettings& s) { s.camera = "0x8020000005ac8514"; });
        bench.rig.time.advance(0.3);
        EXPECT_EQ(bench.rig.cameras.running(), 1);
        EXPECT_TRUE(bench.studio->hasCamera());
        EXPECT_EQ(bench.studio->hasTap(), true); // the sound is not touched
    }
    {
        SCOPED_TRACE("a change that touches no source reopens nothing");
        const auto before = counts();
        const size_t streams = bench.rig.screenCapture.streams().size();
        (void)bench.studio->update(true, [](WebcamSettings& s) {
            s.mirror = true;
            s.drive = 6;
        });
        bench.rig.time.advance(0.3);
        EXPECT_EQ(counts(), before);
        EXPECT_EQ(bench.rig.screenCapture.streams().size(), streams);
    }
    {
        SCOPED_TRACE("LISTEN on Koala's sound: a new tap that plays the processed sound, no monitor");
        EXPECT_TRUE(bench.rig.audioTaps.muted().empty());
        (void)bench.studio->update(true, [](WebcamSettings& s) { s.listen = true; });
        bench.rig.time.advance(0.3);
        EXPECT_EQ(bench.rig.audioTaps.running(), 1);
        EXPECT_EQ(bench.rig.audioTaps.muted().size(), 1u);
        EXPECT_FALSE(bench.studio->hasMonitor());
    }
    {
        SCOPED_TRACE("tutorial on: the sources are reopened with Koala's window");
        (void)bench.studio->update(true, [](WebcamSettings& s) { s.tutorial = true; });
        bench.rig.time.advance(0.3);
        EXPECT_TRUE(bench.studio->hasScreen());
        EXPECT_TRUE(bench.studio->hasTap());
        auto streams = bench.rig.screenCapture.streams();
        ASSERT_EQ(streams.size(), 1u);
        EXPECT_FALSE(streams[0].configuration.capturesAudio);
    }
    {
        SCOPED_TRACE(
            "a microphone: the tap and the screen closed, the microphone opened, LISTEN by the monitor");
        (void)bench.studio->update(true, [](WebcamSettings& s) {
            s.audio = microphoneID;
            s.tutorial = false;
        });
        bench.rig.time.advance(0.3);
        EXPECT_EQ(bench.rig.audioTaps.running(), 0);
        EXPECT_TRUE(bench.rig.audioTaps.muted().empty());
        EXPECT_EQ(bench.rig.microphones.running(), 1);
        EXPECT_FALSE(bench.studio->hasScreen());
        EXPECT_TRUE(bench.studio->hasMonitor());
        EXPECT_GT(bench.rig.audioOutputs.played(0), 0u);
    }
    {
        SCOPED_TRACE("another listen device with a microphone: only the monitor moves");
        (void)bench.studio->update(true, [](WebcamSettings& s) { s.listenDevice = "BuiltInSpeakerDevice"; });
        bench.rig.time.advance(0.3);
        EXPECT_EQ(bench.rig.microphones.running(), 1);
        EXPECT_GT(bench.rig.audioOutputs.played(1), 0u);
        EXPECT_EQ(bench.rig.audioOutputs.running(0), 0);
    }
    {
        SCOPED_TRACE("stop closes everything, and the change stays stored");
        bench.studio->stop();
        bench.rig.time.advance(0.3);
        EXPECT_EQ(counts(), std::tuple(0, 0, 0, size_t(bench.rig.screenCapture.streams().size())));
        EXPECT_FALSE(bench.studio->hasMonitor());
        EXPECT_EQ(bench.rig.audioOutputs.running(1), 0);
        EXPECT_EQ(WebcamSettings::load(bench.defaults).audio, microphoneID);
        EXPECT_EQ(WebcamSettings::load(bench.defaults).listenDevice, "BuiltInSpeakerDevice");
    }
}

TEST(WebcamStudioSources, ALearnedStutterSpotIsStored) {
    StudioBench bench;
    bench.start(plainSettings());
    ASSERT_TRUE(bench.studio->stutter()->onLearned);
    bench.studio->stutter()->onLearned({0.25, 0.75});
    EXPECT_EQ(WebcamSettings::load(bench.defaults).stutterSpot, (Point{0.25, 0.75}));
    EXPECT_EQ(bench.studio->stutter()->spot, (Point{0.25, 0.75}));
}

// ---- recording ----

TEST(WebcamStudioRecording, NamedByTheDateInTheFolderFramesAndSoundAfterTheFirstFrame) {
    StudioBench bench;
    bench.soundKoala();
    bench.start(plainSettings());
    bench.rig.time.advance(0.3 - std::fmod(bench.rig.time.now(), 1.0) + 1.0); // into a fresh second
    const double started = bench.rig.time.now();
    auto path = bench.studio->startRecording();
    ASSERT_TRUE(path) << path.error().description;
    const auto folder = bench.files.home.path() / "Movies" / "Tandem";
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "00.00.%02d", int(started));
    EXPECT_EQ(*path, folder / (std::string("Koala_Performance 2026-01-01 at ") + stamp + " 16x9.mp4"));
    EXPECT_TRUE(bench.studio->recording());
    for (int i = 0; i < 5; ++i) {
        bench.note(i, 100);
        bench.rig.time.advance(0.1);
        bench.note(i, 0);
        bench.rig.time.advance(0.1);
    }
    std::optional<std::optional<std::filesystem::path>> finished;
    bench.studio->stopRecording([&](std::optional<std::filesystem::path> file) { finished = file; });
    EXPECT_FALSE(bench.studio->recording());
    bench.rig.time.runUntilIdle();
    ASSERT_TRUE(finished);
    EXPECT_EQ(*finished, *path);
    auto movie = bench.movies.last();
    ASSERT_TRUE(movie && movie->finished());
    EXPECT_TRUE(std::filesystem::exists(*path));
    EXPECT_EQ(movie->settings(), MovieSettings::recording(1920, 1080));
    const auto frames = movie->frames();
    ASSERT_GE(frames.size(), 25u);
    ASSERT_TRUE(movie->sessionStart());
    EXPECT_EQ(*movie->sessionStart(), frames.front().time);
    EXPECT_NEAR(frames.front().time, started, 0.05);
    const auto sound = movie->audio();
    ASSERT_FALSE(sound.empty());
    float peak = 0;
    for (const SampleBuffer& buffer : sound) {
        EXPECT_GE(buffer.time + buffer.duration(), *movie->sessionStart());
        for (float sample : buffer.floats)
            peak = std::max(peak, std::abs(sample));
    }
    EXPECT_GT(peak, 0.1f);    // the pads were heard
    EXPECT_LE(peak, 0.8911f); // through the limiter
    EXPECT_EQ(bench.studio->recordingURL(), *path);
}

TEST(WebcamStudioRecording, SecondStopCompletesWithNoneAndNoFrameLeavesNoFile) {
    {
        SCOPED_TRACE("a second stop before the first has finished");
        StudioBench bench;
        bench.start(plainSettings());
        auto path = bench.studio->startRecording();
        ASSERT_TRUE(path);
        bench.rig.time.advance(0.5);
        std::vector<std::optional<std::filesystem::path>> results;
        bench.studio->stopRecording([&](auto file) { results.push_back(file); });
        bench.studio->stopRecording([&](auto file) { results.push_back(file); });
        EXPECT_TRUE(results.empty()); // on the main queue, later
        bench.rig.time.runUntilIdle();
        ASSERT_EQ(results.size(), 2u);
        EXPECT_EQ(results[0], *path);
        EXPECT_EQ(results[1], std::nullopt);
    }
    {
        SCOPED_TRACE("stopped before any frame: no file");
        StudioBench bench;
        bench.store(plainSettings());
        bench.make(); // not started: nothing is composed
        auto path = bench.studio->startRecording();
        ASSERT_TRUE(path);
        EXPECT_TRUE(std::filesystem::exists(*path));
        std::optional<std::optional<std::filesystem::path>> finished;
        bench.studio->stopRecording([&](auto file) { finished = file; });
        bench.rig.time.runUntilIdle();
        ASSERT_TRUE(finished);
        EXPECT_EQ(*finished, std::nullopt);
        EXPECT_FALSE(std::filesystem::exists(*path));
    }
    {
        SCOPED_TRACE("stopping the studio finishes the recording and keeps its file; an ending program "
                     "can wait while the movie is written");
        StudioBench bench;
        WebcamSettings settings = plainSettings();
        settings.vertical = true;
        settings.folder = (bench.files.home.path() / "Takes" / "Today").string();
        bench.start(settings);
        bench.movies.holdFinishes(true);
        auto path = bench.studio->startRecording();
        ASSERT_TRUE(path);
        EXPECT_EQ(path->parent_path(), bench.files.home.path() / "Takes" / "Today");
        EXPECT_TRUE(path->filename().string().ends_with(" 9x16.mp4"));
        bench.rig.time.advance(0.5);
        EXPECT_TRUE(bench.studio->waitForRecordings(0)); // recording, nothing being finished
        bench.studio->stop();
        bench.rig.time.runUntilIdle();
        EXPECT_FALSE(bench.studio->recording());
        EXPECT_FALSE(bench.studio->waitForRecordings(0.02));
        EXPECT_FALSE(bench.movies.last()->finished());
        std::thread encoder([movie = bench.movies.last()] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            movie->releaseFinish();
        });
        EXPECT_TRUE(bench.studio->waitForRecordings(10));
        encoder.join();
        EXPECT_TRUE(bench.movies.last()->finished());
        EXPECT_TRUE(std::filesystem::exists(*path));
        EXPECT_EQ(bench.movies.last()->frames().front().width, 1080);
    }
}

TEST(WebcamStudioRecording, TwoRecordingsInOneSecondNeverShareAFileAndAFolderThatCannotBeMadeSaysSo) {
    StudioBench bench;
    bench.start(plainSettings());
    bench.rig.time.advance(1.0 - std::fmod(bench.rig.time.now(), 1.0) + 0.1);
    auto first = bench.studio->startRecording();
    ASSERT_TRUE(first);
    bench.rig.time.advance(0.3);
    bench.studio->stopRecording({});
    bench.rig.time.runUntilIdle();
    const std::string kept = testing::ScratchHome::read(*first);
    auto second = bench.studio->startRecording();
    ASSERT_FALSE(second);
    EXPECT_EQ(second.error().description, "Can't write " + first->filename().string());
    EXPECT_FALSE(bench.studio->recording());
    EXPECT_EQ(testing::ScratchHome::read(*first), kept);
    EXPECT_FALSE(kept.empty());

    testing::ScratchHome::write(bench.files.home.path() / "file", "x");
    (void)bench.studio->update(
        false, [&](WebcamSettings& s) { s.folder = (bench.files.home.path() / "file" / "in").string(); });
    auto blocked = bench.studio->startRecording();
    ASSERT_FALSE(blocked);
    EXPECT_FALSE(blocked.error().description.empty());
    EXPECT_FALSE(bench.studio->recording());
}

} // namespace
} // namespace tandem
