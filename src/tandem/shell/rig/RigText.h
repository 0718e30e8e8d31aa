#pragma once

#include "platform/sim/SimKoala.h"
#include "platform/sim/SimTouchDriver.h"

#include <cstddef>
#include <string>
#include <vector>

// The rig window's words for what the simulated Mac is doing: Koala's settings and profile, the notes
// it heard, the touch driver's state, the log's last lines. Plain text, no Qt.
namespace tandem::RigText {

// "A1" … "D16" for pads 0-63.
std::string padName(int pad);
// Where Koala's pads and keyboard listen and whether its MIDI map is in use.
std::string settings(const SimKoala::Settings& settings);
// Which controller Koala's settings suit, from KoalaPushProfile::settingsMatch for each.
std::string profile(bool suitsMpcTouch, bool suitsPush2);
// The last `count` notes Koala played from the MIDI source named `source`, newest first, one a line;
// "—" when none.
std::string notes(const std::vector<SimKoala::Played>& played, const std::string& source, size_t count);
std::string driver(SimTouchDriver::Agent agent, bool mapped);
// The last `count` lines of a text, without empty ones.
std::vector<std::string> tail(const std::string& text, size_t count);

} // namespace tandem::RigText
