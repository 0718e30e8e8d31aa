// The camera, microphone and Koala's process sound as the studio opens them, LISTEN's outputs and
// monitor, and the simulated Koala's sound they carry, in virtual time.
#include "tandem/webcam/sources/KoalaAudioTap.h"
#include "tandem/webcam/sources/WebcamAudioOutputs.h"
#include "tandem/webcam/sources/WebcamCamera.h"
#include "tandem/webcam/sources/WebcamMicrophone.h"
#include "tandem/webcam/sources/WebcamMonitor.h"

#include "platform/sim/SimRig.h"
#include "support/KoalaRig.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace tandem {
namespace {

using Bench = testing::KoalaRig;

float peakOf(const std::vector<SampleBuffer>& buffers, double from = -1e9, double to = 1e9) {
    float peak = 0;
    for (const SampleBuffer& buffer : buffers) {
        for (size_t f = 0; f < buffer.frames; ++f) {
            const double t = buffer.time + double(f) / buffer.rate;
            if (t < from || t >= to) continue;
            for (int c = 0; c < buffer.channels; ++c)
                peak = std::max(peak, std::abs(buffer.floatAt(f, c)));
        }
    }
    return peak;
}

// The sample at host time `t` across consecutive buffers (channel 0).
std::optional<float> sampleAt(const std::vector<SampleBuffer>& buffers, double t) {
    for (const SampleBuffer& buffer : buffers) {
        const double index = std::round((t - buffer.time) * buffer.rate);
        if (index >= 0 && index < double(buffer.frames)) return buffer.floatAt(size_t(index), 0);
    }
    return std::nullopt;
}

TEST(WebcamCamera, StartsAndStopsOnItsQueueCountingFramesAt30PerSecond) {
    Bench bench;
    auto queue = bench.rig.makeQueue("Tandem camera");
    const CameraDevice device = bench.rig.cameras.devices().at(0);
    auto opened = WebcamCamera::open(bench.rig.cameras, device, queue);
    ASSERT_TRUE(opened) << opened.error().description;
    auto camera = opened.value();
    EXPECT_FALSE(camera->latest());
    camera->start();
    EXPECT_EQ(bench.rig.cameras.running(), 0); // not before its queue runs it
    bench.rig.time.advance(1.0 + 1e-6);
    EXPECT_EQ(bench.rig.cameras.running(), 1);
    EXPECT_EQ(camera->count(), 30u);
    auto frame = camera->latest();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->width, 1280);
    EXPECT_EQ(frame->height, 720);
    // The frame number reads back from its strip; the marker is red upper left, blue lower right.
    EXPECT_EQ(SimCameras::frameNumber(*frame), 29u);
    EXPECT_EQ(frame->argb(320, 240), 0xFFE02020u);
    EXPECT_EQ(frame->argb(960, 540), 0xFF2040E0u);
    EXPECT_EQ(frame->argb(960, 240), 0xFF404040u);

    bench.rig.cameras.flash();
    bench.rig.time.advance(1.0 / 30);
    EXPECT_EQ(camera->latest()->argb(320, 240), 0xFFFFFFFFu);
    EXPECT_EQ(camera->latest()->argb(960, 540), 0xFFFFFFFFu);
    // The flash is remembered at the white frame's own time, which benches match against sound.
    ASSERT_EQ(bench.rig.cameras.flashes().size(), 1u);
    EXPECT_EQ(bench.rig.cameras.flashes()[0], camera->latest()->time);
    bench.rig.time.advance(1.0 / 30);
    EXPECT_EQ(camera->latest()->argb(320, 240), 0xFFE02020u);

    // Like a video device, the camera is one opener's until stopped, and free as soon as stop returns.
    auto second = WebcamCamera::open(bench.rig.cameras, device, queue);
    ASSERT_FALSE(second);
    EXPECT_EQ(second.error().description, device.name + " is in use by another app");
    camera->stop();
    EXPECT_TRUE(WebcamCamera::open(bench.rig.cameras, device, queue));
    camera->stop();
    bench.rig.time.advance(1.0);
    const uint64_t stopped = camera->count();
    bench.rig.time.advance(1.0);
    EXPECT_EQ(camera->count(), stopped);
    EXPECT_EQ(bench.rig.cameras.running(), 0);
}

TEST(WebcamCamera, OpeningFailuresInTheStudiosWords) {
    Bench bench;
    auto queue = bench.rig.makeQueue("Tandem camera");
    const CameraDevice device{"cam-1", "Studio Cam", CameraKind::external};
    bench.rig.cameras.add({device, 640, 480, SimCameras::Behaviour::ready});
    struct Case {
        SimCameras::Behaviour behaviour;
        std::string text;
    };
    for (const Case& c : {Case{SimCameras::Behaviour::inUse, "Studio Cam is in use by another app"},
                          Case{SimCameras::Behaviour::unreadable, "Can't read Studio Cam"},
                          Case{SimCameras::Behaviour::denied,
                               "Allow Tandem in System Settings › Privacy & Security › Camera."}}) {
        bench.rig.cameras.setBehaviour("cam-1", c.behaviour);
        auto opened = WebcamCamera::open(bench.rig.cameras, device, queue);
        ASSERT_FALSE(opened);
        EXPECT_EQ(opened.error(), (Error{"Tandem.Webcam", 1, c.text}));
    }
    bench.rig.cameras.remove("cam-1");
    auto gone = WebcamCamera::open(bench.rig.cameras, device, queue);
    ASSERT_FALSE(gone);
    EXPECT_EQ(gone.error().domain, "Tandem.Webcam");
    EXPECT_EQ(gone.error().description, "The camera Studio Cam is not connected.");
}

TEST(WebcamMicrophone, DeliversFloatStereoOnItsQueueAndSaysWhyItCannotOpen) {
    Bench bench;
    auto queue = bench.rig.makeQueue("Tandem audio input");
    std::vector<SampleBuffer> heard;
    const AudioInputDevice device = bench.rig.microphones.devices().at(0);
    auto opened =
        WebcamMicrophone::open(bench.rig.microphones, device, queue, [&](const SampleBuffer& buffer) {
            EXPECT_TRUE(queue->isCurrent());
            heard.push_back(buffer);
        });
    ASSERT_TRUE(opened);
    opened.value()->start();
    bench.rig.time.advance(0.1 + 1e-6);
    ASSERT_EQ(heard.size(), 10u);
    EXPECT_EQ(heard[0].format, SampleBuffer::Format::float32);
    EXPECT_TRUE(heard[0].interleaved);
    EXPECT_EQ(heard[0].rate, 48000);
    EXPECT_EQ(heard[0].channels, 2);
    // Back to back on the host clock.
    for (size_t i = 1; i < heard.size(); ++i)
        EXPECT_NEAR(heard[i].time, heard[i - 1].time + heard[i - 1].duration(), 1e-9);
    opened.value()->stop();
    bench.rig.time.advance(0.1);
    EXPECT_EQ(heard.size(), 10u);

    const AudioInputDevice busy{"mic-2", "USB Mic"};
    bench.rig.microphones.add(busy, SimMicrophones::Behaviour::inUse);
    auto refused = WebcamMicrophone::open(bench.rig.microphones, busy, queue, {});
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), (Error{"Tandem.Webcam", 1, "USB Mic is in use"}));
    const AudioInputDevice odd{"mic-3", "Odd Mic"};
    bench.rig.microphones.add(odd, SimMicrophones::Behaviour::unreadable);
    EXPECT_EQ(WebcamMicrophone::open(bench.rig.microphones, odd, queue, {}).error().description,
              "Can't read Odd Mic");
}

TEST(KoalaAudioTap, SilentKoalaFirstThenItsBurstsAloneWithListenPlayingTheProcessedSound) {
    Bench bench;
    bench.launchKoala();
    const int32_t pid = *bench.rig.koala.processIdentifier();
    std::vector<SampleBuffer> tapped;
    auto halve = [&](const SampleBuffer& buffer) -> std::optional<SampleBuffer> {
        EXPECT_TRUE(bench.rig.audioDevice->isCurrent());
        tapped.push_back(buffer);
        SampleBuffer processed = buffer;
        for (float& v : processed.floats)
            v *= 0.5f;
        return processed;
    };
    {
        SCOPED_TRACE("no pad played yet");
        auto tap = KoalaAudioTap::make(bench.rig.audioTaps, pid, true, "", halve);
        ASSERT_FALSE(tap);
        EXPECT_EQ(tap.error(), (Error{"Tandem.AudioTap", 1,
                                      "Koala isn't playing sound yet. Play a pad, then open Webcam again."}));
    }
    bench.note(0, 127);
    bench.note(0, 0);
    bench.rig.time.advance(0.5); // that burst is over
    {
        SCOPED_TRACE("the tap's other failures");
        struct Case {
            AudioTapFailure failure;
            std::string text;
        };
        for (const Case& c : {Case{AudioTapFailure::denied,
                                   "Allow Tandem in System Settings › Privacy & Security › Screen & System "
                                   "Audio Recording, then reopen Webcam."},
                              Case{AudioTapFailure::format, "Can't read Koala's sound format"},
                              Case{AudioTapFailure::output, "Can't open the sound output for LISTEN"},
                              Case{AudioTapFailure::start, "Can't start Koala's sound capture"}}) {
            bench.rig.audioTaps.failNext = c.failure;
            auto tap = KoalaAudioTap::make(bench.rig.audioTaps, pid, true, "", halve);
            ASSERT_FALSE(tap);
            EXPECT_EQ(tap.error(), (Error{"Tandem.AudioTap", 1, c.text}));
        }
    }
    auto made = KoalaAudioTap::make(bench.rig.audioTaps, pid, true, "", halve);
    ASSERT_TRUE(made);
    auto tap = made.value();
    EXPECT_EQ(bench.rig.audioTaps.muted(), std::vector<int32_t>{pid}); // LISTEN replaces Koala's own sound
    const double hit = bench.rig.time.now() + 0.05;
    bench.rig.time.advance(0.05);
    bench.note(3, 127);
    bench.rig.time.advance(0.5);
    // A planar stereo tap: two planes per cycle, 10 ms each.
    ASSERT_FALSE(tapped.empty());
    EXPECT_FALSE(tapped[0].interleaved);
    EXPECT_EQ(tapped[0].planeCount(), 2u);
    EXPECT_EQ(tapped[0].frames, 480u);
    // The burst: at the pad's pitch, half scale at full velocity, over within 0.2 s.
    EXPECT_LT(peakOf(tapped, 0, hit), 1e-6f);
    EXPECT_NEAR(peakOf(tapped, hit, hit + 0.02), 0.5f, 0.05f);
    EXPECT_LT(peakOf(tapped, hit + SimKoala::burstSeconds, 1e9), 1e-6f);
    const double quarter = 0.25 / SimKoala::burstFrequency(3);
    EXPECT_NEAR(*sampleAt(tapped, hit + quarter), 0.5 * (1 - quarter / SimKoala::burstSeconds), 0.01);
    // What came back plays on the listen output.
    EXPECT_NEAR(peakOf(bench.rig.audioTaps.output(), hit, hit + 0.02), 0.25f, 0.03f);

    tap->stop();
    tap->stop();
    EXPECT_TRUE(bench.rig.audioTaps.muted().empty());
    EXPECT_EQ(bench.rig.audioTaps.running(), 0);
    const size_t count = tapped.size();
    bench.rig.time.advance(0.2);
    EXPECT_EQ(tapped.size(), count);
}

TEST(KoalaAudioTap, WithoutListenKoalaStaysAudibleAndTheOutputGetsSilence) {
    Bench bench;
    bench.launchKoala();
    bench.note(5, 100);
    bench.rig.audioTaps.interleaved = true;
    std::vector<SampleBuffer> tapped;
    auto made = KoalaAudioTap::make(bench.rig.audioTaps, *bench.rig.koala.processIdentifier(), false, "",
                                    [&](const SampleBuffer& buffer) -> std::optional<SampleBuffer> {
                                        tapped.push_back(buffer);
                                        return buffer;
                                    });
    ASSERT_TRUE(made);
    EXPECT_TRUE(bench.rig.audioTaps.muted().empty());
    bench.note(5, 100);
    bench.rig.time.advance(0.3);
    ASSERT_FALSE(tapped.empty());
    EXPECT_TRUE(tapped[0].interleaved);
    EXPECT_EQ(tapped[0].planeCount(), 1u);
    EXPECT_GT(peakOf(tapped), 0.3f);
    EXPECT_EQ(peakOf(bench.rig.audioTaps.output()), 0.0f);
    made.value()->stop();
}

TEST(SimKoalaSound, HeldStutterRepeatsTheLastEighthOfABeat) {
    Bench bench;
    bench.launchKoala();
    const int32_t pid = *bench.rig.koala.processIdentifier();
    EXPECT_FALSE(bench.rig.koala.sounded(pid));
    // Another source's notes play Koala but not its sound as Tandem hears it.
    MidiEndpointRef other = 0;
    bench.rig.midi.sourceCreate(bench.client, "Keystep", &other);
    bench.rig.time.advance(1.5);
    bench.note(1, 100, other);
    EXPECT_FALSE(bench.rig.koala.played().empty());
    EXPECT_FALSE(bench.rig.koala.sounded(pid));

    const Rect bounds = *bench.rig.koala.windowBounds();
    EXPECT_FALSE(bench.rig.koala.stutterPoint()); // only on the Perform page
    bench.mouse(PointerEventType::leftMouseUp,
                {bounds.x + 0.6 * bounds.width, bounds.y + 0.06 * bounds.height});
    ASSERT_EQ(bench.rig.koala.page(), "perform");
    const Point stutter = *bench.rig.koala.stutterPoint();

    const double start = bench.rig.time.now();
    bench.note(2, 127);
    EXPECT_TRUE(bench.rig.koala.sounded(pid));
    bench.rig.time.advance(0.1);
    const double pressed = bench.rig.time.now();
    bench.mouse(PointerEventType::leftMouseDown, stutter);
    EXPECT_TRUE(bench.rig.koala.stutterHeld());
    bench.rig.time.advance(0.6);
    bench.mouse(PointerEventType::leftMouseUp, stutter);
    EXPECT_FALSE(bench.rig.koala.stutterHeld());
    const double released = bench.rig.time.now();

    const double from = start - 0.5;
    SampleBuffer heard = SampleBuffer::makeFloat(48000, 1, size_t(48000 * 1.7), true, from);
    bench.rig.koala.render(pid, heard);
    auto at = [&](double t) { return heard.floatAt(size_t(std::llround((t - from) * 48000)), 0); };
    const double eighth = 0.25; // 120 bpm
    // While held, each eighth repeats the eighth before the press; after the release the burst is over.
    for (double into : {0.01, 0.1234, 0.2}) {
        EXPECT_FLOAT_EQ(at(pressed + into), at(pressed - eighth + into)) << into;
        EXPECT_FLOAT_EQ(at(pressed + eighth + into), at(pressed - eighth + into)) << into;
    }
    const double crest = 0.25 / SimKoala::burstFrequency(2);
    // The burst's loud start, 0.15 s into the repeated eighth, comes round again and again.
    EXPECT_GT(std::abs(at(pressed + 0.15 + crest)), 0.45f);
    EXPECT_GT(std::abs(at(pressed + 0.15 + eighth + crest)), 0.45f);
    EXPECT_EQ(at(start - 0.01), 0.0f);
    EXPECT_EQ(at(released + 0.01), 0.0f);
    // Another process renders nothing.
    SampleBuffer stranger = SampleBuffer::makeFloat(48000, 2, 480, true, start);
    bench.rig.koala.render(pid + 1, stranger);
    EXPECT_EQ(peakOf({stranger}), 0.0f);
}

TEST(WebcamMonitor, PlaysOnTheChosenOutputDroppingPastFivePending) {
    Bench bench;
    bench.rig.audioOutputs.add({7, "usb-dac", "USB DAC"});
    EXPECT_EQ(WebcamAudioOutputs::all(bench.rig.audioOutputs),
              (std::vector<std::pair<std::string, std::string>>{
                  {"BuiltInSpeakerDevice", "MacBook Pro Speakers"}, {"usb-dac", "USB DAC"}}));
    EXPECT_EQ(WebcamAudioOutputs::id(bench.rig.audioOutputs, "usb-dac"), 7u);
    EXPECT_EQ(WebcamAudioOutputs::id(bench.rig.audioOutputs, "gone"), std::nullopt);
    bench.rig.audioOutputs.setUnreadable(true);
    EXPECT_TRUE(WebcamAudioOutputs::all(bench.rig.audioOutputs).empty());
    bench.rig.audioOutputs.setUnreadable(false);

    const SampleBuffer buffer = SampleBuffer::makeFloat(48000, 2, 480);
    {
        SCOPED_TRACE("a device that stops taking sound: the seventh of seven is dropped");
        WebcamMonitor monitor(bench.rig.audioOutputs, std::string("usb-dac"));
        bench.rig.audioOutputs.setStalled(true);
        for (int i = 0; i < 7; ++i)
            monitor.play(buffer);
        EXPECT_EQ(monitor.pending(), 6);
        EXPECT_EQ(bench.rig.audioOutputs.running(7), 1);
        EXPECT_EQ(bench.rig.audioOutputs.running(0), 0);
        monitor.stop();
        EXPECT_EQ(monitor.pending(), 0); // a stopped player lets go of what it held
        EXPECT_EQ(bench.rig.audioOutputs.running(7), 0);
        bench.rig.audioOutputs.setStalled(false);
    }
    {
        SCOPED_TRACE("a player keeping up plays every buffer; a new format restarts it");
        WebcamMonitor monitor(bench.rig.audioOutputs, std::nullopt);
        for (int i = 0; i < 20; ++i) {
            monitor.play(buffer);
            bench.rig.time.advance(0.01);
        }
        EXPECT_LE(monitor.pending(), 1);
        EXPECT_GE(bench.rig.audioOutputs.played(0), 19u);
        monitor.play(SampleBuffer::makeFloat(44100, 1, 441));
        EXPECT_TRUE(monitor.running());
        EXPECT_EQ(bench.rig.audioOutputs.running(0), 1);
        // Not float, or empty: not played.
        const size_t before = bench.rig.audioOutputs.played(0);
        monitor.play(SampleBuffer::makeInt16(44100, 1, 441));
        monitor.play(SampleBuffer::makeFloat(44100, 1, 0));
        bench.rig.time.advance(0.1);
        EXPECT_EQ(bench.rig.audioOutputs.played(0), before + 1);
    }
    {
        SCOPED_TRACE("a new format while buffers wait lets go of them; closed, a late buffer starts nothing");
        WebcamMonitor monitor(bench.rig.audioOutputs, std::nullopt);
        bench.rig.audioOutputs.setStalled(true);
        for (int i = 0; i < 3; ++i)
            monitor.play(buffer);
        EXPECT_EQ(monitor.pending(), 3);
        monitor.play(SampleBuffer::makeFloat(44100, 1, 441));
        EXPECT_EQ(monitor.pending(), 1);
        EXPECT_EQ(bench.rig.audioOutputs.running(0), 1);
        monitor.close();
        monitor.play(buffer);
        EXPECT_FALSE(monitor.running());
        EXPECT_EQ(bench.rig.audioOutputs.running(0), 0);
        bench.rig.audioOutputs.setStalled(false);
    }
    EXPECT_EQ(bench.rig.audioOutputs.running(0), 0); // the monitor's end stops its player
}

} // namespace
} // namespace tandem
