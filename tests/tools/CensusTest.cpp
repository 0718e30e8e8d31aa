#include "tools/ToolRig.h"

#include <gtest/gtest.h>

namespace tandem::testing {
namespace {

const char* const usbSection = R"(== USB (Akai 09e8, DisplayLink 17e9) ==
09e8:0037  Akai Professional / MPC Touch  location=0x01110000
  - IOUSBHostInterface  if#0 class=0x01  "MPC Touch Audio"
    - AppleUSBAudioDevice
      - AppleUSBAudioEngine
        - IOAudioStream
  - IOUSBHostInterface  if#1 class=0x01
  - IOUSBHostInterface  if#2 class=0x01  "MPC Touch MIDI"
    - IOUSBHostInterfaceUserClient
09e8:8001  SiS / SiS HID Touch Controller  location=0x01120000
  - IOUSBHostInterface  if#0 class=0x03  "SiS HID Touch Controller"
    - AppleUserUSBHostHIDDevice
      - IOHIDInterface
17e9:ff00  DisplayLink / MPC Touch Display  location=0x01130000
  - IOUSBDeviceUserClientV2
  - IOUSBHostInterface  if#0 class=0xff  "DisplayLink"
    - IOUSBHostInterfaceUserClient
  - IOUSBHostInterface  if#1 class=0xff

== HID devices from Akai (IOHIDManager, not opened) ==
09e8:8001 "SiS HID Touch Controller" USB  primary 0d:04  in=64 out=64 feat=3
    usage pair 0d:04
    usage pair 01:02
    usage pair ff00:01
)";

void addOtherMidi(ToolRig& rig) {
    rig.midi.addDevice(
        {"IAC Driver", {{"Bus 1", {{"Bus 1"}}, {{"Bus 1"}}}}, "Apple Inc.", "IAC", "com.apple.iac"});
    // A maker's device with a hidden entity, listed because of its maker whatever its name.
    rig.midi.addDevice({"Network Session",
                        {{"Hidden", {{"Hidden out", "Hidden Out", true}}, {}, true}},
                        "AKAI professional",
                        "LPK25",
                        "com.akai"});
}

// The whole rig: four levels of driver tree (the level-control below the stream is not shown), the
// SiS device, every MIDI endpoint of the Akai devices and the system's flat destination list.
TEST(Census, FullRig) {
    ToolRig rig;
    addOtherMidi(rig);
    EXPECT_EQ(rig.census(), 0);
    EXPECT_EQ(rig.out.str(), std::string(usbSection) + R"(
== CoreMIDI devices (incl. hidden endpoints) ==
device "MPC Touch" manufacturer="Akai Professional" model="MPC Touch" driver="com.apple.AppleMIDIUSBDriver" offline=0
    entity "Public" private=0
      src  name="Public" display="MPC Touch Public" manufacturer="" private=0 offline=0
      dest name="Public" display="MPC Touch Public" manufacturer="" private=0 offline=0
    entity "Private" private=0
      src  name="Private" display="MPC Touch Private" manufacturer="" private=0 offline=0
      dest name="Private" display="MPC Touch Private" manufacturer="" private=0 offline=0
    entity "MIDI Port" private=0
      src  name="MIDI Port" display="MPC Touch MIDI Port" manufacturer="" private=0 offline=0
      dest name="MIDI Port" display="MPC Touch MIDI Port" manufacturer="" private=0 offline=0
device "Network Session" manufacturer="AKAI professional" model="LPK25" driver="com.akai" offline=0
    entity "Hidden" private=1
      src  name="Hidden out" display="Hidden Out" manufacturer="" private=1 offline=0
-- flat destination list (what v1/v2 search) --
  [0] name="Public" manufacturer=""
  [1] name="Private" manufacturer=""
  [2] name="MIDI Port" manufacturer=""
  [3] name="Bus 1" manufacturer=""

== Displays ==
display 1  1440x900 @ 0,0  (main)  vendor=0x610 model=0xa050
display 5  1280x800 @ -1280,0  vendor=0x5109 model=0x1211
)");
    EXPECT_EQ(rig.err.str(), "");
    EXPECT_EQ(rig.midi.clientCount(), 0u);
}

TEST(Census, FailedMidiClientSkipsToDisplaysAndOnlyActiveDisplaysShow) {
    ToolRig rig;
    rig.midi.failNext(SimMidiSystem::Call::clientCreate, midiInvalidClient);
    // A mirrored display is online but not drawn: not listed.
    rig.displays.setActive(SimMpcTouch::displayID, false);
    EXPECT_EQ(rig.census(), 0);
    EXPECT_TRUE(rig.out.str().starts_with(usbSection));
    EXPECT_TRUE(rig.out.str().ends_with("MIDIClientCreate failed: -10830\n\n== Displays ==\n"
                                        "display 1  1440x900 @ 0,0  (main)  vendor=0x610 model=0xa050\n"));
}

} // namespace
} // namespace tandem::testing
