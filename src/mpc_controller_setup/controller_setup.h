#pragma once

// Sends the MPC Touch its controller set-up and its bank and mode lights, through a MIDI client and
// output port of its own. Plain functions with process-wide state; results are 0 for success and 1
// for failure. Every call runs on one serial queue (the bridge's controller queue).

#include <cstdint>
#include <cstdio>

namespace tandem {
class MidiSystem;
class Clock;
} // namespace tandem

// The module's one setter, used by its owner before the first call: the MIDI system and clock to
// use, and where the set-up transcript (standard output) and complaints (standard error) go.
// Disposes of a client and port made earlier on the same MIDI system; forgets those of another one.
// The module serves one bridge at a time: call this only while no other bridge is started.
void controller_use(tandem::MidiSystem* midi, tandem::Clock* clock, std::FILE* out = stdout,
                    std::FILE* err = stderr);

// The full set-up (System Exclusive, initial controls), then the bank lights.
int controller_initialize(unsigned pad_bank, unsigned qlink_bank);
// The bank lights only.
int controller_refresh_banks(unsigned pad_bank, unsigned qlink_bank);
// One light on the Public destination.
int controller_set_button_light(unsigned button, unsigned value);
// Disposes the module's port and client.
void controller_shutdown(void);

// The process-wide client and port (0 while none exists).
extern uint32_t controller_client;
extern uint32_t controller_port;
