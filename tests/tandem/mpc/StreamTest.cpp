#include "tandem/mpc/Stream.h"
#include "tandem/mpc/KoalaMIDIBridge.h"

#include <gtest/gtest.h>

#include <random>

namespace tandem {
namespace {

using Bytes = std::vector<uint8_t>;
using Messages = std::vector<MidiMessage>;

TEST(Stream, AssemblesSplitPackedAndRunningStatusMessages) {
    struct Case {
        const char* name;
        std::vector<Bytes> chunks;
        std::vector<Messages> perChunk;
    };
    const std::vector<Case> cases = {
        {"split message with a clock byte inside", {{0x99, 0x25}, {0x64, 0xF8}}, {{}, {{0x99, 0x25, 0x64}}}},
        {"running status across a SysEx split over two chunks",
         {{0xF0, 0x47}, {0xF7, 0x99, 0x25, 0x64, 0x24, 0x5A, 0x89, 0x25, 0x00, 0x24, 0x00}},
         {{}, {{0x99, 0x25, 0x64}, {0x99, 0x24, 0x5A}, {0x89, 0x25, 0x00}, {0x89, 0x24, 0x00}}}},
        {"two messages in one chunk",
         {{0x90, 0x24, 0x7F, 0x80, 0x24, 0x00}},
         {{{0x90, 0x24, 0x7F}, {0x80, 0x24, 0x00}}}},
        {"data before any status", {{0x24, 0x7F, 0x10}}, {{}}},
        {"system common cancels running status",
         {{0x90, 0x24, 0x7F, 0xF2, 0x10, 0x20, 0x24, 0x7F}},
         {{{0x90, 0x24, 0x7F}}}},
        {"two-byte messages and their running status",
         {{0xC0, 0x05}, {0x06}, {0xD3, 0x40}},
         {{{0xC0, 0x05}}, {{0xC0, 0x06}}, {{0xD3, 0x40}}}},
        {"velocity zero stays a note on", {{0x99, 0x25, 0x00}}, {{{0x99, 0x25, 0x00}}}},
        {"SysEx content never comes out", {{0xF0, 0x01, 0x02}, {0x03, 0x04}, {0xF7}}, {{}, {}, {}}},
        {"status mid-message restarts the message", {{0x90, 0x24, 0xB0, 0x10, 0x2A}}, {{{0xB0, 0x10, 0x2A}}}},
    };
    for (const Case& test : cases) {
        Stream stream;
        ASSERT_EQ(test.chunks.size(), test.perChunk.size()) << test.name;
        for (size_t i = 0; i < test.chunks.size(); ++i) {
            EXPECT_EQ(stream.decode(test.chunks[i]), test.perChunk[i]) << test.name << ", chunk " << i;
        }
    }
}

// A SysEx whose F7 never arrives (a pulled cable, a truncated reply) must not swallow every pad
// until the next F0 or F7: any status byte ends it.
TEST(Stream, AStatusByteEndsASysExWhoseEndWasLost) {
    Stream stream;
    EXPECT_TRUE(stream.decode(Bytes{0xF0, 0x47, 0x7F, 0x37}).empty());
    EXPECT_EQ(stream.decode(Bytes{0x99, 0x25, 0x64}), (Messages{{0x99, 0x25, 0x64}}));
    EXPECT_FALSE(stream.inSysEx);

    // A system common byte ends it too, and then running status is cancelled as usual.
    Stream other;
    EXPECT_TRUE(other.decode(Bytes{0xF0, 0x01, 0xF1, 0x10, 0x25, 0x64}).empty());
    EXPECT_EQ(other.decode(Bytes{0x90, 0x24, 0x7F}), (Messages{{0x90, 0x24, 0x7F}}));
    // A real-time byte inside a SysEx does not end it.
    Stream third;
    EXPECT_TRUE(third.decode(Bytes{0xF0, 0x01, 0xF8, 0x25, 0x64}).empty());
    EXPECT_TRUE(third.inSysEx);
}

Bytes randomStream(std::mt19937& random, size_t length) {
    // Weighted towards the bytes that matter: statuses, data, real-time, SysEx bounds.
    static const uint8_t specials[] = {0x90, 0x80, 0x99, 0x89, 0xA9, 0xB0, 0xC0, 0xD0,
                                       0xE0, 0xF0, 0xF7, 0xF8, 0xFE, 0xF1, 0xF2, 0xF6};
    Bytes bytes(length);
    for (auto& byte : bytes) {
        unsigned roll = random() % 100;
        byte = roll < 20 ? specials[random() % std::size(specials)] : static_cast<uint8_t>(random() % 0x80);
    }
    return bytes;
}

TEST(Stream, AnySplitIntoChunksAndAnyInterleavingGivesTheSameMessages) {
    std::mt19937 random(20261206);
    for (int round = 0; round < 300; ++round) {
        Bytes a = randomStream(random, 1 + random() % 200);
        Bytes b = randomStream(random, 1 + random() % 200);
        Stream wholeA, wholeB;
        Messages expectA = wholeA.decode(a), expectB = wholeB.decode(b);

        // Cut both streams at random points and feed the pieces in a random interleaving, each to
        // its own endpoint's stream.
        Stream splitA, splitB;
        Messages gotA, gotB;
        size_t atA = 0, atB = 0;
        while (atA < a.size() || atB < b.size()) {
            bool takeA = atB == b.size() || (atA < a.size() && random() % 2);
            Bytes& source = takeA ? a : b;
            size_t& at = takeA ? atA : atB;
            size_t length = std::min<size_t>(source.size() - at, random() % 9); // zero-length chunks too
            std::span<const uint8_t> chunk(source.data() + at, length);
            (takeA ? splitA : splitB).decode(chunk, takeA ? gotA : gotB);
            at += length;
        }
        ASSERT_EQ(gotA, expectA) << "round " << round;
        ASSERT_EQ(gotB, expectB) << "round " << round;
        EXPECT_EQ(splitA.inSysEx, wholeA.inSysEx);
        EXPECT_EQ(splitA.status, wholeA.status);
    }
}

} // namespace
} // namespace tandem
