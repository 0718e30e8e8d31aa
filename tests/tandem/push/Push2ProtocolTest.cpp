#include "tandem/push/Push2Protocol.h"
#include "tandem/push/Push2Device.h"

#include "platform/MidiUmp.h"

#include <gtest/gtest.h>

namespace tandem {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace Push2Protocol;

std::optional<Push2Event> parse(Bytes bytes) {
    return event(bytes);
}

TEST(Push2Protocol, MessagesAreBuiltByteForByte) {
    EXPECT_EQ(setMidiMode(true), (Bytes{0xF0, 0x00, 0x21, 0x1D, 0x01, 0x01, 0x0A, 0x01, 0xF7}));
    // Each colour value goes out as its low seven bits, then the rest.
    EXPECT_EQ(setPalette(108, 255, 40, 99, 128), (Bytes{0xF0, 0x00, 0x21, 0x1D, 0x01, 0x01, 0x03, 108, 0x7F,
                                                        0x01, 40, 0x00, 99, 0x00, 0x00, 0x01, 0xF7}));
}

TEST(Push2Protocol, RepliesMustHaveTheirExactLengthAndCommand) {
    Bytes palette{0xF0, 0x00, 0x21, 0x1D, 0x01, 0x01, 0x04, 110, 0x7F,
                  0x01, 0x4B, 0x01, 0x6A, 0x01, 0x05, 0x01, 0xF7};
    EXPECT_EQ(paletteReply(palette), (PaletteEntry{110, {255, 203, 234, 133}}));
    Bytes shorter(palette.begin(), palette.end() - 2);
    shorter.push_back(0xF7);
    EXPECT_FALSE(paletteReply(shorter)); // 16 bytes
    Bytes otherCommand = palette;
    otherCommand[6] = 0x03;
    EXPECT_FALSE(paletteReply(otherCommand));

    EXPECT_EQ(touchStripConfigurationReply(Bytes{0xF0, 0x00, 0x21, 0x1D, 0x01, 0x01, 0x18, 0x68, 0xF7}),
              0x68);
    EXPECT_FALSE(touchStripConfigurationReply(Bytes{0xF0, 0x00, 0x21, 0x1D, 0x01, 0x01, 0x17, 0x68, 0xF7}));

    EXPECT_EQ(midiModeReply(setMidiMode(true)), 0x01); // the Push echoes the mode it was set to
    EXPECT_FALSE(midiModeReply(Bytes{0xF0, 0x00, 0x21, 0x1D, 0x01, 0x01, 0x0A, 0x01, 0x00, 0xF7}));
    EXPECT_FALSE(midiModeReply(getTouchStripConfiguration()));
}

TEST(Push2Protocol, InputMeansTheTablesEvents) {
    EXPECT_EQ(parse({0x90, 50, 0}), Push2Event::pad(14, 0, false));
    EXPECT_EQ(parse({0x80, 50, 64}), Push2Event::pad(14, 0, false));
    EXPECT_EQ(parse({0x90, 8, 127}), Push2Event::encoderTouch(10, true));
    EXPECT_EQ(parse({0x80, 10, 0}), Push2Event::encoderTouch(8, false));
    EXPECT_EQ(parse({0x90, 12, 127}), Push2Event::stripTouch(true));
    EXPECT_EQ(parse({0xA0, 40, 77}), Push2Event::pressure(4, 77));
    EXPECT_EQ(parse({0xB0, 71, 1}), Push2Event::encoder(0, 1));
    EXPECT_EQ(parse({0xB0, 78, 127}), Push2Event::encoder(7, -1));
    EXPECT_EQ(parse({0xB0, 79, 64}), Push2Event::encoder(10, -64));
    EXPECT_EQ(parse({0xB0, 15, 63}), Push2Event::encoder(9, 63));
    EXPECT_EQ(parse({0xB0, 85, 127}), Push2Event::button(85, true));
    EXPECT_EQ(parse({0xB0, 85, 0}), Push2Event::button(85, false));
    EXPECT_EQ(parse({0xD0, 90}), Push2Event::channelPressure(90));
    for (Bytes none : std::vector<Bytes>{{0x90, 11, 1},
                                         {0x90, 100, 1},
                                         {0xC0, 5},
                                         {0xF8},
                                         {0x90},
                                         {0xE3, 0xFE, 0xFE}, // data bytes are 7-bit: these are statuses
                                         {0x90, 0x80, 0x10},
                                         {0xB0, 0x47, 0x90},
                                         {}}) {
        EXPECT_FALSE(parse(none));
    }
}

TEST(Push2Protocol, UmpPacketsBecomeMessagesAndOtherTypesAreSkipped) {
    std::vector<uint8_t> long13(13);
    for (size_t i = 0; i < long13.size(); ++i)
        long13[i] = uint8_t(i + 1);
    auto sysex = Ump::systemExclusive(long13); // start, continue, end
    MidiEventList list{
        {2'000'000'000,
         {0x10F80000, // type 1 (clock): skipped
          Ump::channelVoice(0x90, 36, 100), 0x40904000,
          0x12345678, // type 4 (MIDI 2.0 note): two words, skipped
          Ump::channelVoice(0xD0, 90, 55), 0x50000000, 0, 0, 0}}, // type 5: four words, skipped
        {0, {}}};
    list[1].words = sysex;
    auto small = Ump::systemExclusive(std::vector<uint8_t>{0x00, 0x21, 0x1D});
    list[1].words.insert(list[1].words.end(), small.begin(), small.end());
    auto messages = Push2Device::convert(list, 1e-9);
    ASSERT_EQ(messages.size(), 6u);
    EXPECT_EQ(messages[0], (Push2Device::Incoming{{0x90, 36, 100}, 2.0, 2'000'000'000}));
    EXPECT_EQ(messages[1].bytes, (Bytes{0xD0, 90})); // two bytes for channel pressure
    EXPECT_EQ(messages[2], (Push2Device::Incoming{{0xF0, 1, 2, 3, 4, 5, 6}, std::nullopt, 0}));
    EXPECT_EQ(messages[3].bytes, (Bytes{7, 8, 9, 10, 11, 12}));
    EXPECT_EQ(messages[4].bytes, (Bytes{13, 0xF7}));
    EXPECT_EQ(messages[5].bytes, (Bytes{0xF0, 0x00, 0x21, 0x1D, 0xF7}));

    // Type-2 words whose status is no channel voice status are skipped: an F0 passed on would open a
    // System Exclusive block that swallows every later event.
    auto strays = Push2Device::convert({{5, {0x20F01234, 0x2E500C41, Ump::channelVoice(0x90, 40, 1)}}}, 1e-9);
    ASSERT_EQ(strays.size(), 1u);
    EXPECT_EQ(strays[0].bytes, (Bytes{0x90, 40, 1}));

    // A packet cut short in the middle of a two-word message stops there.
    auto cut = Push2Device::convert({{5, {Ump::channelVoice(0x80, 40, 0), 0x30160102}}}, 1e-9);
    ASSERT_EQ(cut.size(), 1u);
    EXPECT_EQ(cut[0].bytes, (Bytes{0x80, 40, 0}));
}

} // namespace
} // namespace tandem
