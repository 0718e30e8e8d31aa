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

} // namespace
} // namespace tandem
