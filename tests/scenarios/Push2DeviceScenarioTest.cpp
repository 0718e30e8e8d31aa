// The Push 2 as a device on the simulated Mac, in virtual time: MIDI set-up and restore, input, and
// frames reaching its display.
#include "tandem/push/Push2Device.h"

#include "base/SimTime.h"
#include "platform/MidiUmp.h"
#include "platform/sim/SimMidiSystem.h"
#include "platform/sim/SimPush2.h"
#include "platform/sim/SimUsbHost.h"
#include "push2_display/push2_display.h"
#include "support/ScratchHome.h"

#include <gtest/gtest.h>

namespace tandem {
namespace {

using Bytes = std::vector<uint8_t>;
namespace P = Push2Protocol;

constexpr size_t framePixels = 960 * 160;

class Push2DeviceScenario : public ::testing::Test {
protected:
    testing::ScratchHome home; // the activity log writes into it
    SimTime time;
    std::shared_ptr<Queue> delivery = time.makeQueue("CoreMIDI");
    std::shared_ptr<Queue> main = time.makeQueue("main");
    std::shared_ptr<Queue> displayQueue = time.makeQueue("Tandem Push 2 display");
    SimMidiSystem midi{delivery, time};
    SimPush2 push{midi, false};
    SimPush2Display display;
    SimUsbHost usb{&display};
    std::shared_ptr<Push2Device> device = Push2Device::create(midi, time, usb, main, displayQueue);

    std::vector<Push2Event> events;
    std::vector<bool> connections;
    std::vector<std::string> states;

    void SetUp() override {
        device->onEvent = [this](const Push2Event& event) { events.push_back(event); };
        device->onConnectionChanged = [this](bool connected) { connections.push_back(connected); };
        device->onDisplayStateChanged = [this](const std::string& text) { states.push_back(text); };
    }
    void TearDown() override { device->stop(); }

    // What the Push must receive when it connects and answers everything.
    static std::vector<Bytes> connectSequence(bool readPalette, bool stripKnown) {
        std::vector<Bytes> expected{P::setMidiMode(true)};
        if (!stripKnown) expected.push_back(P::getTouchStripConfiguration());
        expected.push_back(P::setTouchStripConfiguration(0x08));
        if (readPalette) {
            for (Push2Color color : Push2Palette::allCases())
                expected.push_back(P::getPaletteEntry(uint8_t(color)));
        }
        for (Push2Color color : Push2Palette::allCases()) {
            Push2RGB rgb = Push2Palette::rgb(color);
            expected.push_back(P::setPalette(uint8_t(color), rgb.r, rgb.g, rgb.b, 0));
        }
        expected.push_back(P::reapplyPalette());
        return expected;
    }

    static std::vector<uint16_t> frame(uint16_t seed) {
        std::vector<uint16_t> pixels(framePixels);
        for (size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = uint16_t(seed + i * 31);
        return pixels;
    }
};

TEST_F(Push2DeviceScenario, ConnectingEntersUserModeWritesThePaletteAndStopRestoresThePushInOrder) {
    push.plug();
    device->start();
    time.advance(0.1);
    EXPECT_EQ(connections, std::vector<bool>{true});
    EXPECT_EQ(push.received(), connectSequence(true, false));
    EXPECT_EQ(push.palette(108), (SimPush2::Color{255, 40, 99, 0}));

    // Nothing changes on later ticks.
    push.clearReceived();
    time.advance(3);
    EXPECT_TRUE(push.received().empty());

    device->setButton(85, 127);
    device->setButton(20, 4);
    device->setPad(0, 109);
    push.clearReceived();
    device->stop();
    std::vector<Bytes> expected;
    for (int pad = 0; pad < 64; ++pad)
        expected.push_back({0x90, uint8_t(36 + pad), 0x00});
    expected.push_back({0xB0, 20, 0x00});
    expected.push_back({0xB0, 85, 0x00});
    for (Push2Color color : Push2Palette::allCases()) {
        auto original = SimPush2::factoryColor(uint8_t(color));
        expected.push_back(P::setPalette(uint8_t(color), original.r, original.g, original.b, original.w));
    }
    expected.push_back(P::reapplyPalette());
    expected.push_back(P::setTouchStripConfiguration(0x68));
    expected.push_back(P::setMidiMode(false));
    EXPECT_EQ(push.received(), expected);
    EXPECT_EQ(midi.clientCount(), 0u);

    push.clearReceived();
    device->stop();
    time.advance(2);
    EXPECT_TRUE(push.received().empty());
    EXPECT_EQ(connections.size(), 1u); // stop does not report the disconnection
}

TEST_F(Push2DeviceScenario, ASilentPushIsAskedOnceAPaletteEntryEveryFifthOfASecondAndNothingIsOverwritten) {
    push.setAnswersPalette(false);
    push.setAnswersTouchStrip(false);
    push.plug();
    device->start();
    time.advance(0.19);
    EXPECT_EQ(push.received(), (std::vector<Bytes>{P::setMidiMode(true), P::getTouchStripConfiguration()}));
    time.advance(0.02);
    EXPECT_EQ(push.received().back(), P::getPaletteEntry(100)); // the strip query timed out
    time.advance(5.7);
    auto received = push.received();
    ASSERT_EQ(received.size(), 2u + 26u);
    EXPECT_EQ(received.back(), P::getPaletteEntry(125));
    EXPECT_EQ(push.palette(108), SimPush2::factoryColor(108));
    EXPECT_EQ(push.touchStripConfiguration(), 0x68);

    // Stopping puts back nothing it never read, but leaves user mode.
    push.clearReceived();
    device->stop();
    received = push.received();
    ASSERT_EQ(received.size(), 65u);
    EXPECT_EQ(received.back(), P::setMidiMode(false));
}

TEST_F(Push2DeviceScenario, ReplugReentersUserModeReadsOnlyUnknownEntriesAndResendsPads) {
    push.setAnswersPalette(false);
    push.plug();
    device->start();
    time.advance(6);
    device->setPad(5, 110);
    size_t before = push.received().size();
    device->setPad(5, 110); // the same colour: nothing sent
    device->setPad(64, 1);
    device->setPad(-1, 1);
    EXPECT_EQ(push.received().size(), before);

    push.unplug();
    time.advance(0.01);
    EXPECT_EQ(connections, (std::vector<bool>{true, false})); // the set-up notification
    time.advance(1);
    EXPECT_EQ(connections, (std::vector<bool>{true, false, false})); // and every second while it is away

    push.setAnswersPalette(true);
    push.clearReceived();
    push.plug();
    time.advance(1.01);
    EXPECT_EQ(connections.back(), true);
    EXPECT_EQ(push.received(), connectSequence(true, true)); // strip known from the first connection

    device->setPad(5, 110);
    EXPECT_EQ(push.padLight(5), 110); // sent again after the reconnection
}

TEST_F(Push2DeviceScenario, InputArrivesAsEventsWithItsTimeThroughAReplugAndAStopInsideABatchEndsIt) {
    push.plug();
    device->start();
    time.advance(0.1);
    std::vector<double> times;
    device->onEvent = [&](const Push2Event& event) {
        events.push_back(event);
        times.push_back(device->eventTime());
    };
    push.pressPad(0, 100);
    push.turnEncoder(8, -1);
    push.moveStrip(16383);
    push.sendWords({0x10F80000, 0x40904000, 0x12345678}); // clock and a MIDI 2.0 note: not for us
    time.advance(0.01);
    EXPECT_EQ(events, (std::vector<Push2Event>{Push2Event::pad(0, 100, true), Push2Event::encoder(8, -1),
                                               Push2Event::strip(1.0)}));
    EXPECT_DOUBLE_EQ(times[0], 1e-9);

    // An untimed packet takes the uptime.
    times.clear();
    const double sentAt = time.now();
    push.sendWords({Ump::channelVoice(0x90, 40, 100)}, 0);
    time.advance(0.01);
    ASSERT_EQ(times.size(), 1u);
    EXPECT_DOUBLE_EQ(times[0], sentAt);

    // A cut-off system exclusive block does not swallow the press after a replug.
    auto pieces = Ump::systemExclusive(Bytes(20, 0x11));
    push.sendWords({pieces[0], pieces[1]}); // only the start of a long block arrives
    time.advance(0.01);
    push.unplug();
    time.advance(0.01);
    push.plug();
    time.advance(0.1);
    events.clear();
    push.pressPad(9, 77);
    time.advance(0.01);
    EXPECT_EQ(events, std::vector<Push2Event>{Push2Event::pad(9, 77, true)});

    // The first event of a batch stops the device: the rest of the batch is not delivered.
    device->onEvent = [&](const Push2Event& event) {
        events.push_back(event);
        device->stop();
    };
    events.clear();
    push.sendWords({Ump::channelVoice(0x90, 41, 100), Ump::channelVoice(0x90, 42, 100)});
    time.advance(0.01);
    EXPECT_EQ(events, std::vector<Push2Event>{Push2Event::pad(5, 100, true)});
}

TEST_F(Push2DeviceScenario, FramesReachTheDisplayNewestFirstWithOneInFlight) {
    push.plug();
    device->start();
    time.advance(0.1);
    auto first = frame(1), second = frame(2), third = frame(3);
    device->submit(first);
    device->submit(second); // while the first is in flight: only replaces the waiting frame
    device->submit(third);
    time.advance(0.01);
    EXPECT_EQ(display.framesShown(), 2);
    EXPECT_EQ(display.lastImage(), third);
    device->submit(std::vector<uint16_t>(10)); // not a whole frame: ignored
    time.advance(0.01);
    EXPECT_EQ(display.framesShown(), 2);

    display.stallNextWrite();
    device->submit(first);
    time.advance(0.01);
    device->submit(second);
    time.advance(0.01);
    EXPECT_EQ(display.lastImage(), second); // the stalled interface was kept
    EXPECT_EQ(display.openCount(), 1);
    EXPECT_EQ(states, (std::vector<std::string>{"DISPLAY: ON", "DISPLAY: LOST, RETRYING", "DISPLAY: ON"}));

    push.unplug();
    time.advance(1.01);
    EXPECT_EQ(device->displayState(), "DISPLAY: NOT OPEN");
    EXPECT_FALSE(display.isOpen());
}

TEST_F(Push2DeviceScenario, OpeningIsRetriedAtMostEveryTwoSecondsAndTheHostIsHeldOnlyWhileRunning) {
    display.setMode(SimPush2Display::Mode::absent);
    EXPECT_EQ(push2_display_open(), -1);
    EXPECT_EQ(usb.searches(), 0); // not handed over before start
    push.plug();
    device->start();
    time.advance(0.1);
    for (int i = 0; i < 8; ++i) {
        device->submit(frame(uint16_t(i)));
        time.advance(0.25);
    }
    EXPECT_EQ(usb.searches(), 1); // 2 s have not passed since the first attempt
    time.advance(0.1);
    display.setMode(SimPush2Display::Mode::heldByOther);
    device->submit(frame(9));
    time.advance(0.01);
    EXPECT_EQ(usb.searches(), 2);
    time.advance(2.1);
    display.setMode(SimPush2Display::Mode::unreachable);
    device->pump(); // the render tick's keep-alive
    time.advance(2.11);
    display.setMode(SimPush2Display::Mode::present);
    device->pump();
    time.advance(0.01);
    EXPECT_EQ(display.lastImage(), frame(9));
    display.failNextWrite();
    device->pump();
    time.advance(0.01);
    EXPECT_FALSE(display.isOpen()); // closed; the next open comes with a later frame
    EXPECT_EQ(states, (std::vector<std::string>{
                          "DISPLAY: NOT FOUND ON USB", "DISPLAY: IN USE BY ANOTHER APP (CLOSE ABLETON LIVE)",
                          "DISPLAY: COULD NOT OPEN", "DISPLAY: ON", "DISPLAY: LOST, RETRYING"}));
    const int searches = usb.searches();
    device->stop();
    EXPECT_EQ(push2_display_open(), -1);
    EXPECT_EQ(usb.searches(), searches); // taken back by the stop: nothing asks the host any more
}

// The Push's answer to a query, as it sends it: the body between F0 and F7.
std::vector<uint32_t> sysexWords(std::vector<uint8_t> arguments) {
    std::vector<uint8_t> body(P::sysexHeader.begin() + 1, P::sysexHeader.end());
    body.insert(body.end(), arguments.begin(), arguments.end());
    return Ump::systemExclusive(body);
}

TEST_F(Push2DeviceScenario, LateAndStaleRepliesNeitherRestartNorSkipTheWalk) {
    push.setAnswersTouchStrip(false);
    push.setAnswersPalette(false);
    push.plug();
    device->start();
    time.advance(0.3); // the strip query timed out at 0.2 s; entry 100 was asked then
    ASSERT_EQ(push.received().back(), P::getPaletteEntry(100));
    time.advance(0.15); // entry 100 timed out too; 101 is being asked
    ASSERT_EQ(push.received().back(), P::getPaletteEntry(101));
    push.clearReceived();

    // The answers to the strip and to entry 100 come after their time.
    push.sendWords(sysexWords({0x18, 0x68}));
    push.sendWords(sysexWords({0x04, 100, 1, 0, 2, 0, 3, 0, 0, 0}));
    time.advance(0.01);
    EXPECT_TRUE(push.received().empty()); // no strip set-up, no skipped or repeated query
    time.advance(0.15);
    EXPECT_EQ(push.received(), std::vector<Bytes>{P::getPaletteEntry(102)}); // 101 had its full 0.2 s

    // A connection later, an answer to the old connection's query leaves the new one waiting.
    push.setAnswersMidiMode(false);
    push.unplug();
    time.advance(0.01);
    push.plug();
    time.advance(0.01);
    push.clearReceived();
    push.sendWords(sysexWords({0x04, 103, 5, 0, 5, 0, 5, 0, 0, 0}));
    time.advance(0.05);
    EXPECT_TRUE(push.received().empty()); // still waiting for the mode answer
    time.advance(0.2);
    // The late strip answer stays known; the walk starts at the first entry never read.
    EXPECT_EQ(push.received(),
              (std::vector<Bytes>{P::setTouchStripConfiguration(0x08), P::getPaletteEntry(101)}));
}

} // namespace
} // namespace tandem
