#include "tandem/mpc/Stream.h"

namespace tandem {

void Stream::decode(std::span<const uint8_t> chunk, std::vector<MidiMessage>& out) {
    for (uint8_t byte : chunk) {
        if (byte >= 0xF8) continue; // real-time bytes may sit inside any message without breaking it
        if (byte == 0xF7 || byte == 0xF0) {
            inSysEx = byte == 0xF0;
            status = 0;
            dataCount = 0;
            continue;
        }
        if (byte >= 0x80) {
            // Any status byte ends an open System Exclusive block (MIDI 1.0): a block whose F7 was
            // lost, to a pulled cable or a truncated reply, must not silence the pads until the next
            // F0 or F7. System common messages cancel running status and their data is dropped.
            inSysEx = false;
            status = byte < 0xF0 ? byte : 0;
            dataCount = 0;
            continue;
        }
        if (inSysEx || status == 0) continue;
        data[dataCount++] = byte;
        uint8_t kind = status & 0xF0;
        uint8_t needed = (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
        if (dataCount == needed) {
            MidiMessage message;
            message.data = {status, data[0], data[1]};
            message.size = static_cast<uint8_t>(needed + 1);
            if (needed == 1) message.data[2] = 0;
            out.push_back(message);
            dataCount = 0;
        }
    }
}

} // namespace tandem
