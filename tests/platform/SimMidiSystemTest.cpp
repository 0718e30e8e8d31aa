#include "platform/sim/SimMidiSystem.h"

#include "base/SimTime.h"

#include <gtest/gtest.h>

#include <array>

namespace tandem {
namespace {

struct Received {
    std::vector<std::vector<uint8_t>> packets;
    std::vector<void*> refs;
};

MidiSystem::ReadHandler recorder(Received& into) {
    return [&into](const MidiPacketList& list, void* ref) {
        list.forEach([&](const MidiPacketList::Packet& packet) {
            into.packets.emplace_back(packet.data.begin(), packet.data.end());
            into.refs.push_back(ref);
        });
    };
}

std::vector<uint8_t> packetBuffer;

MidiPacketList onePacket(std::vector<uint8_t> bytes) {
    packetBuffer.assign(64, 0);
    MidiPacketListBuilder builder(packetBuffer);
    builder.add(0, bytes);
    packetBuffer.resize(builder.size());
    return MidiPacketList(packetBuffer);
}

class SimMidiSystemTest : public ::testing::Test {
protected:
    SimTime time;
    std::shared_ptr<Queue> delivery = time.makeQueue("CoreMIDI");
    SimMidiSystem midi{delivery, time};
};

TEST_F(SimMidiSystemTest, VirtualSourceReachesEveryConnectedPortOnTheDeliveryQueueOnly) {
    MidiClientRef tandem = 0, koala = 0;
    MidiEndpointRef source = 0;
    ASSERT_EQ(midi.clientCreate("Tandem", nullptr, &tandem), midiNoError);
    ASSERT_EQ(midi.sourceCreate(tandem, "Tandem", &source), midiNoError);
    ASSERT_EQ(midi.clientCreate("Koala", nullptr, &koala), midiNoError);
    Received first, second;
    MidiPortRef portA = 0, portB = 0;
    ASSERT_EQ(midi.inputPortCreate(koala, "in A", recorder(first), &portA), midiNoError);
    ASSERT_EQ(midi.inputPortCreate(koala, "in B", recorder(second), &portB), midiNoError);
    int refA = 1, refB = 2;
    ASSERT_EQ(midi.portConnectSource(portA, midi.findSource("Tandem"), &refA), midiNoError);
    ASSERT_EQ(midi.portConnectSource(portB, source, &refB), midiNoError);

    ASSERT_EQ(midi.received(source, onePacket({0x9F, 36, 100})), midiNoError);
    EXPECT_TRUE(first.packets.empty()); // nothing arrives on the caller's thread
    time.runUntilIdle();
    ASSERT_EQ(first.packets.size(), 1u);
    EXPECT_EQ(first.packets[0], (std::vector<uint8_t>{0x9F, 36, 100}));
    EXPECT_EQ(first.refs[0], &refA);
    EXPECT_EQ(second.refs.at(0), &refB);

    // A packet on its way when its source is disconnected still arrives, with the old reference;
    // later ones do not. Disposing the port stops even those on their way.
    midi.setLatency(0.5);
    ASSERT_EQ(midi.received(source, onePacket({0x8F, 36, 0})), midiNoError);
    ASSERT_EQ(midi.portDisconnectSource(portA, source), midiNoError);
    ASSERT_EQ(midi.received(source, onePacket({0x8F, 37, 0})), midiNoError);
    ASSERT_EQ(midi.portDispose(portB), midiNoError);
    time.advance(0.4);
    EXPECT_EQ(first.packets.size(), 1u);
    time.advance(0.1);
    EXPECT_EQ(first.packets.size(), 2u);
    EXPECT_EQ(first.refs[1], &refA);
    EXPECT_EQ(second.packets.size(), 1u);

    EXPECT_EQ(midi.clientDispose(tandem), midiNoError);
    EXPECT_EQ(midi.findSource("Tandem"), 0u);
    EXPECT_EQ(midi.received(source, onePacket({0x90, 1, 1})), midiUnknownEndpoint);
}

TEST_F(SimMidiSystemTest, DeviceTreePropertiesAndRunTimeChangesAreAnnounced) {
    int notices = 0;
    MidiClientRef client = 0;
    ASSERT_EQ(midi.clientCreate(
                  "watcher", [&] { ++notices; }, &client),
              midiNoError);
    auto device = midi.addDevice({"MPC Touch",
                                  {{"Public", {{"MPC Touch Public"}}, {{"MPC Touch Public"}}},
                                   {"Private", {{"MPC Touch Private"}}, {}, true}},
                                  "Akai",
                                  "MPC Touch",
                                  "com.apple.AppleMIDIUSBDriver"});
    time.runUntilIdle();
    EXPECT_EQ(notices, 1);
    ASSERT_EQ(midi.numberOfDevices(), 1u);
    ASSERT_EQ(midi.numberOfEntities(device.ref), 2u);
    MidiEndpointRef privateSource = device.sources[1][0];
    MidiEntityRef entity = 0;
    MidiDeviceRef owner = 0;
    ASSERT_EQ(midi.endpointEntity(privateSource, &entity), midiNoError);
    ASSERT_EQ(midi.entityDevice(entity, &owner), midiNoError);
    EXPECT_EQ(owner, device.ref);
    std::string name;
    ASSERT_EQ(midi.stringProperty(owner, MidiProperty::manufacturer, &name), midiNoError);
    EXPECT_EQ(name, "Akai");
    ASSERT_EQ(midi.stringProperty(privateSource, MidiProperty::displayName, &name), midiNoError);
    EXPECT_EQ(name, "MPC Touch Private");
    int32_t value = -1;
    ASSERT_EQ(midi.integerProperty(entity, MidiProperty::isPrivate, &value), midiNoError);
    EXPECT_EQ(value, 1);
    ASSERT_EQ(midi.integerProperty(privateSource, MidiProperty::offline, &value), midiNoError);
    EXPECT_EQ(value, 0); // inherited from the device

    midi.setOffline(device.ref, true);
    ASSERT_EQ(midi.integerProperty(privateSource, MidiProperty::offline, &value), midiNoError);
    EXPECT_EQ(value, 1);
    midi.removeDevice(device.ref);
    time.runUntilIdle();
    EXPECT_EQ(notices, 3);
    EXPECT_EQ(midi.numberOfSources(), 0u);
    EXPECT_EQ(midi.endpointEntity(privateSource, &entity), midiUnknownEndpoint);
}

TEST_F(SimMidiSystemTest, DeviceSendsReachPortsAndSendsReachTheDeviceUnlessOffline) {
    auto device = midi.addDevice({"Synth", {{"Port 1", {{"Out"}}, {{"In"}}}}});
    MidiClientRef client = 0;
    MidiPortRef in = 0, out = 0;
    Received got;
    ASSERT_EQ(midi.clientCreate("app", nullptr, &client), midiNoError);
    ASSERT_EQ(midi.inputPortCreate(client, "in", recorder(got), &in), midiNoError);
    ASSERT_EQ(midi.outputPortCreate(client, "out", &out), midiNoError);
    ASSERT_EQ(midi.portConnectSource(in, device.sources[0][0], nullptr), midiNoError);
    std::vector<std::vector<uint8_t>> atDevice;
    midi.setReceiver(device.destinations[0][0], [&](const MidiPacketList& list) {
        list.forEach([&](auto& packet) { atDevice.emplace_back(packet.data.begin(), packet.data.end()); });
    });

    std::array<uint8_t, 3> note{0x90, 60, 1};
    ASSERT_EQ(midi.deviceSend(device.sources[0][0], note), midiNoError);
    ASSERT_EQ(midi.send(out, device.destinations[0][0], onePacket({0xB0, 35, 3})), midiNoError);
    time.runUntilIdle();
    EXPECT_EQ(got.packets.size(), 1u);
    EXPECT_EQ(atDevice, (std::vector<std::vector<uint8_t>>{{0xB0, 35, 3}}));

    midi.setOffline(device.ref, true);
    midi.deviceSend(device.sources[0][0], note);
    midi.send(out, device.destinations[0][0], onePacket({0xB0, 35, 0}));
    time.runUntilIdle();
    EXPECT_EQ(got.packets.size(), 1u);
    EXPECT_EQ(atDevice.size(), 1u);
}

TEST_F(SimMidiSystemTest, InjectedStatusesFailOnlyTheChosenCallsAndChangeNothing) {
    MidiClientRef client = 0;
    midi.failNext(SimMidiSystem::Call::clientCreate, -50, 2);
    EXPECT_EQ(midi.clientCreate("a", nullptr, &client), -50);
    EXPECT_EQ(midi.clientCreate("a", nullptr, &client), -50);
    EXPECT_EQ(midi.clientCount(), 0u);
    ASSERT_EQ(midi.clientCreate("a", nullptr, &client), midiNoError);

    MidiEndpointRef source = 0;
    midi.failNext(SimMidiSystem::Call::sourceCreate, midiUnknownError);
    EXPECT_EQ(midi.sourceCreate(client, "Tandem", &source), midiUnknownError);
    EXPECT_EQ(midi.numberOfSources(), 0u);
    EXPECT_EQ(midi.sourceCreate(client, "Tandem", &source), midiNoError);
    EXPECT_EQ(midi.sourceCreate(client + 999, "x", &source), midiInvalidClient);
}

} // namespace
} // namespace tandem
