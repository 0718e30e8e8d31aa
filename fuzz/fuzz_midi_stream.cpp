// MIDI input assembly: the messages of a byte stream must not depend on how the MIDI thread cut it
// into packets, nor on which other endpoint's packets came in between.
//
// Input: [plan length P] [cut] [P plan bytes] [stream bytes]. The stream bytes are cut at `cut`/255
// into the streams of endpoints A and B. Each plan byte is one chunk: bit 7 picks the endpoint, the
// low five bits its length (zero-length chunks included); the plan repeats until both are consumed.
#include "FuzzSupport.h"

#include "tandem/mpc/Stream.h"

#include <algorithm>

namespace {

using tandem::MidiMessage;
using tandem::Stream;
using Messages = std::vector<MidiMessage>;

// MIDI 1.0's rules as the architecture notes state them, written independently of Stream: real-time
// bytes vanish anywhere, F0 opens a System Exclusive block and any other status byte closes it,
// system common bytes cancel running status, channel statuses set it.
Messages reference(std::span<const uint8_t> bytes) {
    Messages out;
    uint8_t running = 0;
    bool sysEx = false;
    std::vector<uint8_t> pending;
    for (uint8_t byte : bytes) {
        if (byte >= 0xF8) continue;
        if (byte & 0x80) {
            sysEx = byte == 0xF0;
            running = byte <= 0xEF ? byte : 0;
            pending.clear();
            continue;
        }
        if (sysEx || running == 0) continue;
        pending.push_back(byte);
        const uint8_t high = running >> 4;
        const size_t wanted = (high == 0xC || high == 0xD) ? 1 : 2;
        if (pending.size() == wanted) {
            MidiMessage message;
            message.data[0] = running;
            std::copy(pending.begin(), pending.end(), message.data.begin() + 1);
            message.size = uint8_t(wanted + 1);
            out.push_back(message);
            pending.clear();
        }
    }
    return out;
}

void checkWellFormed(const Messages& messages) {
    for (const MidiMessage& message : messages) {
        FUZZ_CHECK(message.size == 2 || message.size == 3, "a message is 2 or 3 bytes");
        const uint8_t status = message.data[0];
        FUZZ_CHECK(status >= 0x80 && status < 0xF0, "a message starts with a channel status byte");
        const uint8_t kind = status & 0xF0;
        FUZZ_CHECK(message.size == ((kind == 0xC0 || kind == 0xD0) ? 2 : 3),
                   "the size matches the status (program change and channel pressure are 2 bytes)");
        for (size_t i = 1; i < message.size; ++i)
            FUZZ_CHECK(message.data[i] < 0x80, "data bytes are 7-bit");
        FUZZ_CHECK(message.status() == status && message.bytes().size() == message.size,
                   "the accessors agree with the stored bytes");
    }
}

// The state left behind must not depend on the cuts either: the next packet continues from it.
void checkSameState(const Stream& split, const Stream& whole) {
    FUZZ_CHECK(split.status == whole.status, "running status is the same after split and whole decoding");
    FUZZ_CHECK(split.inSysEx == whole.inSysEx, "the SysEx state is the same after split and whole decoding");
    FUZZ_CHECK(split.dataCount == whole.dataCount, "the pending data count is the same");
    FUZZ_CHECK(split.dataCount <= 2, "at most two data bytes are pending");
    FUZZ_CHECK(std::equal(split.data.begin(), split.data.begin() + split.dataCount, whole.data.begin()),
               "the pending data bytes are the same");
}

struct Planner {
    std::span<const uint8_t> plan;
    size_t step = 0;
    bool lastWasEmpty = false;

    // The next chunk: which endpoint, and how many bytes (never two empty chunks in a row, so the
    // feeding always ends).
    std::pair<bool, size_t> next() {
        uint8_t byte = plan.empty() ? 0x01 : plan[step++ % plan.size()];
        size_t length = byte & 0x1F;
        if (length == 0 && lastWasEmpty) length = 1;
        lastWasEmpty = length == 0;
        return {(byte & 0x80) != 0, length};
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::span<const uint8_t> input(data, size);
    size_t planLength = 0, cutByte = 255;
    if (input.size() >= 2) {
        planLength = std::min<size_t>(input[0], input.size() - 2);
        cutByte = input[1];
        input = input.subspan(2);
    }
    std::span<const uint8_t> plan = input.first(planLength);
    std::span<const uint8_t> bytes = input.subspan(planLength);
    const size_t cut = bytes.size() * cutByte / 255;
    std::span<const uint8_t> a = bytes.first(cut), b = bytes.subspan(cut);

    Stream wholeA, wholeB;
    const Messages expectA = wholeA.decode(a), expectB = wholeB.decode(b);
    checkWellFormed(expectA);
    checkWellFormed(expectB);
    FUZZ_CHECK(expectA == reference(a), "stream A decodes by MIDI 1.0's rules");
    FUZZ_CHECK(expectB == reference(b), "stream B decodes by MIDI 1.0's rules");

    // One endpoint, its stream cut into the plan's chunks.
    {
        Stream split;
        Messages got;
        Planner planner{plan};
        for (size_t at = 0; at < a.size();) {
            size_t length = std::min(planner.next().second, a.size() - at);
            const size_t before = got.size();
            const Messages earlier(got.begin(), got.end());
            split.decode(a.subspan(at, length), got);
            FUZZ_CHECK(std::equal(earlier.begin(), earlier.end(), got.begin()),
                       "decode only appends to what the caller already holds");
            FUZZ_CHECK(got.size() - before <= length, "a chunk completes at most one message per byte");
            at += length;
        }
        FUZZ_CHECK(got == expectA, "decoding in chunks gives the messages of decoding whole");
        checkSameState(split, wholeA);
    }

    // Two endpoints whose chunks arrive interleaved, each on its own stream.
    {
        Stream splitA, splitB;
        Messages gotA, gotB;
        Planner planner{plan};
        size_t atA = 0, atB = 0;
        while (atA < a.size() || atB < b.size()) {
            auto [wantB, length] = planner.next();
            bool takeA = atA < a.size() && (!wantB || atB == b.size());
            std::span<const uint8_t> source = takeA ? a : b;
            size_t& at = takeA ? atA : atB;
            length = std::min(length, source.size() - at);
            (takeA ? splitA : splitB).decode(source.subspan(at, length), takeA ? gotA : gotB);
            at += length;
        }
        FUZZ_CHECK(gotA == expectA, "endpoint A's messages do not depend on endpoint B's chunks");
        FUZZ_CHECK(gotB == expectB, "endpoint B's messages do not depend on endpoint A's chunks");
        checkSameState(splitA, wholeA);
        checkSameState(splitB, wholeB);
    }
    return 0;
}
