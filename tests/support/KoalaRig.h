#pragma once

#include "platform/sim/SimRig.h"
#include "support/KoalaFiles.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace tandem::testing {

// The simulated Mac with Koala's files in a scratch home, set to hear pads on channel 1 from note 48,
// and Tandem's own MIDI source to play them: after a pad, Koala has sounded.
struct KoalaRig {
    KoalaFiles files;
    SimRig rig{files.home.path() / "rig"};
    MidiClientRef client = 0;
    MidiEndpointRef source = 0;

    KoalaRig() {
        files.writeSettings(R"({"midiInputChannel": 1, "midiNoteOffset": 48})");
        rig.midi.clientCreate("Tandem", {}, &client);
        rig.midi.sourceCreate(client, "Tandem", &source);
    }

    void launchKoala() {
        rig.workspace.openApplication(rig.koala.location(), [](auto, auto) {});
        rig.time.advance(1.5);
        ASSERT_TRUE(rig.koala.running());
    }
    // Pad `pad` (0-based) struck at `velocity`, or released at 0, on `from` (Tandem's source if 0).
    void note(int pad, int velocity, MidiEndpointRef from = 0) {
        std::vector<uint8_t> bytes(64);
        MidiPacketListBuilder builder(bytes);
        const std::vector<uint8_t> message{uint8_t(velocity ? 0x90 : 0x80), uint8_t(48 + pad),
                                           uint8_t(velocity)};
        builder.add(rig.time.hostTime(), message);
        rig.midi.received(from ? from : source, builder.list());
        rig.time.runUntilIdle();
    }
    void mouse(PointerEventType type, Point at) {
        rig.pointer.post(*rig.pointer.makeMouseEvent(type, at));
        rig.time.runUntilIdle();
    }
    // Koala running, one pad struck and let go, its burst heard.
    void soundKoala() {
        launchKoala();
        note(0, 127);
        rig.time.advance(0.05);
        note(0, 0);
        rig.time.advance(0.3);
    }
};

} // namespace tandem::testing
