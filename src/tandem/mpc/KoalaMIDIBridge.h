#pragma once

#include "platform/MidiPacketList.h"
#include "tandem/mpc/ChunkList.h"

namespace tandem {

// The MPC Touch's MIDI front end.
class KoalaMIDIBridge {
public:
    // Copies each packet's whole payload out of a packet list (packets may exceed 256 bytes); the
    // result does not refer to the list. Runs on the MIDI system's delivery thread.
    static ChunkList messages(const MidiPacketList& list);

    // The fixed packet-list case: a 602-byte SysEx packet followed by a short packet.
    static bool packetSelfCheck();
};

} // namespace tandem
