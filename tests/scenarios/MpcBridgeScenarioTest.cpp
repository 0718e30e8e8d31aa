// The MPC path on the simulated Mac, in virtual time: a simulated MPC Touch, the bridge with its
// queues, and a listener on the virtual source "Tandem" standing in for Koala.
#include "tandem/mpc/KoalaMIDIBridge.h"

#include "base/ActivityLog.h"
#include "base/SimTime.h"
#include "mpc_controller_setup/controller_setup.h"
#include "platform/sim/SimMidiSystem.h"
#include "platform/sim/SimMpcTouch.h"
#include "support/ScratchHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace tandem {
namespace {

using Bytes = std::vector<uint8_t>;
using Port = SimMpcTouch::Port;

class MpcBridgeScenario : public ::testing::Test {
protected:
    testing::ScratchHome home;
    SimTime time;
    std::shared_ptr<Queue> delivery = time.makeQueue("CoreMIDI");
    std::shared_ptr<Queue> input = time.makeQueue("Tandem.MIDIInput");
    std::shared_ptr<Queue> controller = time.makeQueue("Tandem.ControllerOutput");
    std::shared_ptr<Queue> main = time.makeQueue("main");
    SimMidiSystem midi{delivery, time};
    KoalaPerformanceFeed feed{time};
    std::shared_ptr<KoalaMIDIBridge> bridge =
        KoalaMIDIBridge::create(midi, time, input, controller, main, feed);

    // Everything the main queue heard, in order: "status: …", "forward: 9f 24 64", "ready", …
    std::vector<std::string> mainLog;
    std::vector<Bytes> koala; // what reached the listener on "Tandem"
    MidiClientRef koalaClient = 0;
    MidiPortRef koalaPort = 0;

    char* transcript = nullptr;
    size_t transcriptSize = 0;
    std::FILE* out = open_memstream(&transcript, &transcriptSize);
    std::FILE* err = std::tmpfile();

    void SetUp() override {
        controller_use(&midi, &time, out, err);
        bridge->onStatus = [this](const std::string& text) { mainLog.push_back("status: " + text); };
        bridge->onForward = [this](const Bytes& bytes) { mainLog.push_back("forward: " + hex(bytes)); };
        bridge->onPadBankChanged = [this](int bank) { mainLog.push_back("bank " + std::to_string(bank)); };
        bridge->onChopperModeChanged = [this](bool on) {
            mainLog.push_back(on ? "chopper on" : "chopper off");
        };
    }

    void TearDown() override {
        bridge->stop();
        std::fclose(out);
        std::free(transcript);
        std::fclose(err);
    }

    static std::string hex(const Bytes& bytes) {
        std::string text;
        char digits[4];
        for (uint8_t byte : bytes) {
            std::snprintf(digits, sizeof digits, "%02x", byte);
            text += (text.empty() ? "" : " ") + std::string(digits);
        }
        return text;
    }

    void listenAsKoala() {
        ASSERT_EQ(midi.clientCreate("Koala", nullptr, &koalaClient), midiNoError);
        auto read = [this](const MidiPacketList& list, void*) {
            list.forEach([&](auto& packet) { koala.emplace_back(packet.data.begin(), packet.data.end()); });
        };
        ASSERT_EQ(midi.inputPortCreate(koalaClient, "Koala In", read, &koalaPort), midiNoError);
        ASSERT_NE(midi.findSource("Tandem"), 0u);
        ASSERT_EQ(midi.portConnectSource(koalaPort, midi.findSource("Tandem"), nullptr), midiNoError);
    }

    std::string controllerTranscript() {
        std::fflush(out);
        return std::string(transcript, transcriptSize);
    }

    bool contains(const std::string& entry) const {
        return std::find(mainLog.begin(), mainLog.end(), entry) != mainLog.end();
    }

    bool logged(const std::string& line) const {
        ActivityLog::flush();
        return testing::ScratchHome::read(home.path() / "Library/Logs/Tandem.log").find(line) !=
               std::string::npos;
    }

    // Starts, plugs the MPC in and waits for its set-up; routing on.
    void startReady() {
        SimMpcTouch* touch = mpc.get();
        if (!touch->plugged()) touch->plug();
        ASSERT_TRUE(bridge->start().ok());
        listenAsKoala();
        time.advance(2);
        ASSERT_TRUE(contains("status: MPC controller setup sent"));
        bridge->setRoutingEnabled(true);
        mainLog.clear();
        koala.clear();
    }

    std::unique_ptr<SimMpcTouch> mpc = std::make_unique<SimMpcTouch>(midi, false);
};

TEST_F(MpcBridgeScenario, PluggingInWhileStartedConnectsSetsUpThenReports) {
    bool ready = false;
    ASSERT_TRUE(bridge->start([&] { ready = true; }).ok());
    time.advance(2.5);
    EXPECT_TRUE(mainLog.empty()); // nothing to connect yet

    double pluggedAt = time.now();
    mpc->plug();
    while (!contains("status: MPC Touch connected (Public and Private)") && time.now() - pluggedAt < 2) {
        time.advance(0.01);
    }
    EXPECT_LE(time.now() - pluggedAt, 1.0 + 1e-9);
    time.advance(0.38);
    EXPECT_TRUE(mpc->received().empty()); // the set-up waits 0.4 s after connecting
    time.advance(0.03);
    EXPECT_FALSE(mpc->received().empty());
    time.advance(1.0);
    EXPECT_TRUE(ready);
    ASSERT_TRUE(contains("status: MPC controller setup sent"));

    ASSERT_EQ(mpc->received().size(), 3u + 11u + 16u + 2u);
    EXPECT_EQ(mpc->received().front().bytes, (Bytes{0xF0, 0x47, 0x7F, 0x37, 0x62, 0x00, 0x01, 0x65, 0xF7}));
    EXPECT_EQ(mpc->light(Port::privatePort, 35), 3); // bank A lit on both entities
    EXPECT_EQ(mpc->light(Port::privatePort, 90), 2);
    EXPECT_NE(controllerTranscript().find("initialization_complete send_errors=0\n"), std::string::npos);

    // A second start only registers its handler, which runs at once now that the MPC is ready.
    bool second = false;
    ASSERT_TRUE(bridge->start([&] { second = true; }).ok());
    time.advance(0);
    EXPECT_TRUE(second);
    EXPECT_EQ(midi.clientCount(), 2u); // Tandem's and the controller module's, no more
}

TEST_F(MpcBridgeScenario, APadPressReachesKoalaAsTheBanksChannel16Note) {
    startReady();
    mpc->pressPad(1, 100);
    time.advance(0.01);
    EXPECT_EQ(koala, (std::vector<Bytes>{{0x9F, 36, 100}}));
    EXPECT_EQ(mainLog, (std::vector<std::string>{"forward: 9f 24 64"}));
    EXPECT_EQ(feed.snapshot().lastHit->pad, 0);

    mpc->press(37); // bank C
    mpc->release(37);
    mpc->pressPad(16, 90);
    mpc->releasePad(1);
    time.advance(0.01);
    EXPECT_EQ(koala, (std::vector<Bytes>{{0x9F, 36, 100}, {0x9F, 83, 90}, {0x8F, 36, 0}}));
    EXPECT_TRUE(contains("bank 2"));
    time.advance(1);
    EXPECT_EQ(mpc->light(Port::privatePort, 37), 3); // the lights follow the bank
    EXPECT_EQ(mpc->light(Port::publicPort, 35), 0);
    EXPECT_TRUE(logged(" MPC pad bank C · Samples, Ch16 notes 68–83\n"));

    // Private's bank selectors and shared buttons play along.
    EXPECT_EQ(midi.connectionCount(), 3u); // Public, Private, and Koala listening on "Tandem"
    koala.clear();
    mpc->press(38, Port::privatePort);
    mpc->release(38, Port::privatePort);
    mpc->pressPad(1, 100);
    mpc->press(82, Port::privatePort);
    time.advance(0.01);
    EXPECT_EQ(koala, (std::vector<Bytes>{{0x9F, 84, 100}, {0x9E, 82, 127}}));
}

TEST_F(MpcBridgeScenario, UnpluggingReleasesHeldNotesFirstThenWaitsToReconnect) {
    startReady();
    mpc->pressPad(2, 100);
    mpc->press(73); // a shared button
    time.advance(0.01);
    mpc->unplug();
    time.advance(1.0);
    ASSERT_EQ(koala.size(), 4u);
    const auto indexOf = [&](const std::string& entry) {
        return size_t(std::find(mainLog.begin(), mainLog.end(), entry) - mainLog.begin());
    };
    const size_t disconnected = indexOf("status: MPC Touch disconnected; waiting to reconnect");
    ASSERT_LT(disconnected, mainLog.size());
    EXPECT_LT(indexOf("forward: 8f 25 00"), disconnected); // released before the disconnection is told
    EXPECT_LT(indexOf("forward: 8e 49 00"), disconnected);
    EXPECT_EQ(midi.connectionCount(), 1u); // only Koala's listener

    mainLog.clear();
    mpc->plug();
    time.advance(2.5);
    EXPECT_TRUE(contains("status: MPC controller setup sent"));
    mpc->pressPad(3, 64);
    time.advance(0.01);
    EXPECT_EQ(koala.back(), (Bytes{0x9F, 38, 64}));

    // A packet still on its way through a retired connection is ignored.
    mpc->releasePad(3);
    time.advance(0.01);
    koala.clear();
    midi.setLatency(1.5);
    mpc->pressPad(1, 100);
    time.advance(0.1);
    mpc->unplug();
    mpc->plug();
    time.advance(3);
    EXPECT_TRUE(koala.empty());
}

TEST_F(MpcBridgeScenario, AFailedSetUpIsReportedAndRetriedUntilItSucceeds) {
    bool ready = false;
    mpc->plug();
    midi.failNext(SimMidiSystem::Call::send, midiUnknownError, 60); // two whole set-ups refused
    ASSERT_TRUE(bridge->start([&] { ready = true; }).ok());
    std::vector<double> failures;
    bridge->onStatus = [&](const std::string& text) {
        mainLog.push_back("status: " + text);
        if (text == "MPC MIDI setup failed; retrying") failures.push_back(time.now());
    };
    time.advance(10);
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_GE(failures[1] - failures[0], 1.0);
    EXPECT_LE(failures[1] - failures[0], 2.1);
    EXPECT_TRUE(ready);
    EXPECT_EQ(mainLog.back(), "status: MPC controller setup sent");
    EXPECT_NE(controllerTranscript().find("initialization_complete send_errors=1\n"), std::string::npos);

    // Routing is not blocked by a refused set-up.
    bridge->setRoutingEnabled(true);
    listenAsKoala();
    mpc->pressPad(4, 1);
    time.advance(0.01);
    EXPECT_EQ(koala, (std::vector<Bytes>{{0x9F, 39, 1}}));
}

// Pressed again soon after a short press: the hold time runs from the second press.
TEST_F(MpcBridgeScenario, HoldingABankButtonSolosItsBusThreeTenthsAfterTheLatestPress) {
    startReady();
    mpc->press(38);
    time.advance(0.1);
    mpc->release(38);
    time.advance(0.1);
    mpc->press(38);
    time.advance(0.15);
    EXPECT_TRUE(koala.empty()); // the first press's timer (0.35 s ago) found a newer press
    time.advance(0.16);
    EXPECT_EQ(koala, (std::vector<Bytes>{{0x9D, 30, 127}, {0x8D, 30, 0}}));
}

TEST_F(MpcBridgeScenario, ScreenBankAndKeyboardChangesOnlyWhileRouting) {
    startReady();
    bridge->selectPadBank(4);
    bridge->selectPadBank(3);
    time.advance(0.01);
    EXPECT_EQ(mainLog, (std::vector<std::string>{"bank 3"}));
    bridge->keyboardToggledOnScreen();
    time.advance(0.01);
    EXPECT_TRUE(bridge->currentChopperMode());
    EXPECT_TRUE(contains("status: 16 Levels · Chopper · banks A–D play chops 1–64, MIDI notes 60–123"));
    EXPECT_TRUE(logged(" Keyboard mode on · source: native keyboard click\n"));

    bridge->setRoutingEnabled(false);
    bridge->selectPadBank(2);
    bridge->keyboardToggledOnScreen();
    time.advance(0.01);
    EXPECT_EQ(bridge->currentPadBank(), 0);
    EXPECT_TRUE(bridge->currentChopperMode());
}

TEST_F(MpcBridgeScenario, LightsFollowTheLastOfTwoQuickBankChanges) {
    startReady();
    // Two bank changes while one light refresh is on its way (each takes 20 ms a message).
    mpc->press(36);
    mpc->release(36);
    time.advance(0.05);
    mpc->press(38);
    mpc->release(38);
    time.advance(1);
    for (Port port : {Port::publicPort, Port::privatePort}) {
        EXPECT_EQ(mpc->light(port, 38), 3);
        EXPECT_EQ(mpc->light(port, 36), 0);
        EXPECT_EQ(mpc->light(port, 35), 0);
    }
}

TEST_F(MpcBridgeScenario, TheSavedSongRestoresBankAndKeyboardBeforeRouting) {
    const auto song = home.path() / "Music/Koala Sampler/default/song.json";
    testing::ScratchHome::write(song, R"({"keyboardMode": false, "selectedPad": 50})");
    mpc->plug();
    ASSERT_TRUE(bridge->start().ok());
    listenAsKoala();
    time.advance(2);
    bridge->prepareForKoalaLaunch();
    EXPECT_EQ(bridge->currentPadBank(), 3);
    testing::ScratchHome::write(song, "{broken");
    bridge->prepareForKoalaLaunch();
    EXPECT_EQ(bridge->currentPadBank(), 0);

    // Written by an older Koala: the song reader's forgiving string values. Keyboard mode starts in
    // Chopper and keeps the song's sample bank.
    testing::ScratchHome::write(song, R"({"keyboardMode": "true", "selectedPad": "20"})");
    bridge->prepareForKoalaLaunch();
    EXPECT_TRUE(bridge->currentChopperMode());
    bridge->setRoutingEnabled(true);
    mpc->pressPad(1, 100);
    mpc->releasePad(1);
    mpc->press(40); // Chopper off: back to the song's sample bank B
    mpc->release(40);
    mpc->pressPad(2, 100);
    time.advance(0.01);
    EXPECT_EQ(koala.front(), (Bytes{0x9F, 60, 100}));
    EXPECT_EQ(koala.back(), (Bytes{0x9F, 53, 100}));
    EXPECT_TRUE(logged(" Keyboard mode on · source: restored song\n"));

    testing::ScratchHome::write(song, R"({"selectedPad": 50})");
    bridge->prepareForKoalaLaunch(); // routing already on: ignored
    EXPECT_EQ(bridge->currentPadBank(), 1);
}

TEST_F(MpcBridgeScenario, StartFailuresDisposeWhatWasMadeAndStopIsSafeTwice) {
    midi.failNext(SimMidiSystem::Call::sourceCreate, -50);
    auto failed = bridge->start();
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error(), (Error{"Tandem.MIDI", -50, "MIDISourceCreate failed (-50)"}));
    EXPECT_EQ(midi.clientCount(), 0u);
    EXPECT_EQ(midi.portCount(), 0u);

    mpc->plug();
    ASSERT_TRUE(bridge->start().ok());
    time.advance(2);
    EXPECT_EQ(midi.clientCount(), 2u);
    bridge->stop();
    bridge->stop();
    EXPECT_EQ(midi.clientCount(), 0u);
    EXPECT_EQ(midi.findSource("Tandem"), 0u);

    // Handlers still waiting go with the stop: a later run's set-up never calls them.
    bool stale = false;
    mpc->unplug();
    ASSERT_TRUE(bridge->start([&] { stale = true; }).ok());
    time.advance(1);
    bridge->stop();
    mpc->plug();
    mainLog.clear();
    ASSERT_TRUE(bridge->start().ok());
    time.advance(3);
    EXPECT_TRUE(contains("status: MPC controller setup sent"));
    EXPECT_FALSE(stale);
}

TEST(ControllerSetup, RefusesBadBanksAndAMissingMpcWithItsMessage) {
    SimTime time;
    SimMidiSystem midi(time.makeQueue("CoreMIDI"), time);
    char* errText = nullptr;
    size_t errSize = 0;
    std::FILE* err = open_memstream(&errText, &errSize);
    std::FILE* out = std::tmpfile();
    controller_use(&midi, &time, out, err);
    EXPECT_EQ(controller_initialize(4, 0), 1);
    EXPECT_EQ(controller_set_button_light(40, 2), 1); // no port yet
    EXPECT_EQ(controller_refresh_banks(0, 0), 1);
    std::fflush(err);
    EXPECT_EQ(std::string(errText, errSize), "MPC Touch Public/Private destination unavailable\n");
    EXPECT_EQ(midi.clientCount(), 0u);

    SimMpcTouch mpc(midi);
    EXPECT_EQ(controller_refresh_banks(2, 1), 0);
    EXPECT_EQ(mpc.light(SimMpcTouch::Port::privatePort, 37), 3);
    EXPECT_EQ(controller_set_button_light(128, 0), 1);
    EXPECT_NEAR(time.now(), 0.02 * 16, 1e-9); // 20 ms after every message
    controller_use(&midi, &time, out, err);   // a new owner on the same system: the old client goes
    EXPECT_EQ(midi.clientCount(), 0u);
    controller_shutdown();
    controller_shutdown();
    std::fclose(err);
    std::fclose(out);
    std::free(errText);
    controller_use(nullptr, nullptr);
}

} // namespace
} // namespace tandem
