#include "platform/linux/AlsaMidiSystem.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <thread>

namespace tandem {
namespace {

// On a machine without a sequencer every creating call fails with a status and nothing is listed;
// with one, a virtual source reaches an input port connected to it.
TEST(AlsaMidiSystem, WorksWithASequencerAndFailsCleanlyWithoutOne) {
    AlsaMidiSystem midi;
    MidiClientRef client = 0;
    MidiStatus created = midi.clientCreate("Tandem", nullptr, &client);
    if (!midi.available()) {
        EXPECT_NE(created, midiNoError);
        EXPECT_EQ(midi.numberOfSources(), 0u);
        EXPECT_EQ(midi.numberOfDevices(), 0u);
        EXPECT_EQ(midi.source(0), 0u);
        MidiEndpointRef source = 0;
        EXPECT_NE(midi.sourceCreate(client, "Tandem", &source), midiNoError);
        std::string name;
        EXPECT_NE(midi.stringProperty(0x05000000, MidiProperty::name, &name), midiNoError);
        return;
    }
    ASSERT_EQ(created, midiNoError);
    MidiEndpointRef source = 0;
    MidiPortRef input = 0;
    std::atomic<int> received{0};
    ASSERT_EQ(midi.sourceCreate(client, "Tandem loop", &source), midiNoError);
    ASSERT_EQ(midi.inputPortCreate(
                  client, "in", [&](const MidiPacketList& list, void*) { received += list.count(); }, &input),
              midiNoError);
    ASSERT_EQ(midi.portConnectSource(input, source, nullptr), midiNoError);
    std::array<uint8_t, 64> buffer{};
    MidiPacketListBuilder list(buffer);
    ASSERT_TRUE(list.add(0, std::vector<uint8_t>{0x9F, 36, 100}));
    EXPECT_EQ(midi.received(source, list.list()), midiNoError);
    for (int i = 0; i < 100 && received == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(received, 1);
    EXPECT_EQ(midi.clientDispose(client), midiNoError);
}

} // namespace
} // namespace tandem
