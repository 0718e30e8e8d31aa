#include "platform/MidiPacketList.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

namespace tandem {
namespace {

std::vector<uint8_t> bytesOf(std::span<const uint8_t> data) {
    return {data.begin(), data.end()};
}

TEST(MidiPacketList, LongSysExPacketThenNextPacketAtTheArm64Offset) {
    std::array<uint8_t, 2048> buffer{};
    MidiPacketListBuilder builder(buffer);
    std::vector<uint8_t> sysEx(602, 0x47);
    sysEx.front() = 0xF0;
    sysEx.back() = 0xF7;
    std::vector<uint8_t> notes{0x99, 0x25, 0x64, 0x89, 0x25, 0x00};
    ASSERT_TRUE(builder.add(1, sysEx));
    ASSERT_TRUE(builder.add(2, notes));

    // count at 0; packet 1 at 4 (stamp, length 602, data); packet 2 at 4 + 10 + 602 rounded up to 4.
    uint32_t count;
    std::memcpy(&count, buffer.data(), 4);
    EXPECT_EQ(count, 2u);
    uint16_t length;
    std::memcpy(&length, buffer.data() + 12, 2);
    EXPECT_EQ(length, 602);
    size_t second = (4 + 10 + 602 + 3) & ~size_t{3};
    EXPECT_EQ(second, 616u);
    uint64_t stamp;
    std::memcpy(&stamp, buffer.data() + second, 8);
    EXPECT_EQ(stamp, 2u);
    EXPECT_EQ(builder.size(), second + 10 + notes.size());

    std::vector<MidiPacketList::Packet> packets;
    builder.list().forEach([&](const MidiPacketList::Packet& packet) { packets.push_back(packet); });
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].timeStamp, 1u);
    EXPECT_EQ(bytesOf(packets[0].data), sysEx);
    EXPECT_EQ(bytesOf(packets[1].data), notes);
}

TEST(MidiPacketList, AddFailsCleanlyWhenTheBufferIsFull) {
    std::array<uint8_t, 32> buffer{};
    MidiPacketListBuilder builder(buffer);
    std::vector<uint8_t> first(14, 0x40);
    first[0] = 0x90;
    ASSERT_TRUE(builder.add(1, first)); // 4 + 10 + 14 = 28 bytes
    size_t used = builder.size();
    EXPECT_FALSE(builder.add(2, std::vector<uint8_t>{0x80, 0x40, 0x00}));
    EXPECT_EQ(builder.size(), used);
    EXPECT_EQ(builder.list().count(), 1u);

    std::array<uint8_t, 3> tiny{};
    MidiPacketListBuilder none(tiny);
    EXPECT_FALSE(none.add(0, std::vector<uint8_t>{0x90, 1, 2}));
    EXPECT_EQ(none.list().count(), 0u);
}

TEST(MidiPacketList, SameTimeStampMergesExceptSysEx) {
    std::array<uint8_t, 256> buffer{};
    MidiPacketListBuilder builder(buffer);
    ASSERT_TRUE(builder.add(5, std::vector<uint8_t>{0x90, 1, 2}));
    ASSERT_TRUE(builder.add(5, std::vector<uint8_t>{0x80, 1, 0}));
    ASSERT_TRUE(builder.add(5, std::vector<uint8_t>{0xF0, 1, 0xF7}));
    EXPECT_EQ(builder.list().count(), 2u);
}

TEST(MidiPacketList, ReadingAMalformedListNeverRunsPastItsBytes) {
    std::array<uint8_t, 64> buffer{};
    MidiPacketListBuilder builder(buffer);
    ASSERT_TRUE(builder.add(1, std::vector<uint8_t>{0x90, 1, 2}));
    uint32_t lie = 1000; // the header claims far more packets than there are
    std::memcpy(buffer.data(), &lie, 4);
    uint16_t longLength = 500; // and the first packet claims more bytes than the buffer holds
    std::vector<uint8_t> copy(buffer.begin(), buffer.begin() + builder.size());
    int seen = 0;
    MidiPacketList(copy).forEach([&](auto&) { ++seen; });
    EXPECT_EQ(seen, 1);
    std::memcpy(copy.data() + 12, &longLength, 2);
    seen = 0;
    MidiPacketList(copy).forEach([&](auto&) { ++seen; });
    EXPECT_EQ(seen, 0);
    EXPECT_EQ(MidiPacketList(std::span<const uint8_t>(copy).first(2)).count(), 0u);
}

TEST(MidiPacketList, AnEmptyPacketJoinsThePreviousOneWithoutTouchingItsBytes) {
    std::array<uint8_t, 256> buffer{};
    MidiPacketListBuilder builder(buffer);
    const std::vector<uint8_t> on{0x90, 0x24, 0x7F}, off{0x80, 0x24, 0x00};
    ASSERT_TRUE(builder.add(5, on));
    ASSERT_TRUE(builder.add(5, off));
    ASSERT_TRUE(builder.add(5, std::span<const uint8_t>{})); // no pointer at all behind it
    std::vector<std::vector<uint8_t>> packets;
    builder.list().forEach(
        [&](const MidiPacketList::Packet& packet) { packets.push_back(bytesOf(packet.data)); });
    EXPECT_EQ(packets, (std::vector<std::vector<uint8_t>>{{0x90, 0x24, 0x7F, 0x80, 0x24, 0x00}}));
}

} // namespace
} // namespace tandem
