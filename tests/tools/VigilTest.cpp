#include "tools/ToolRig.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>

namespace tandem::testing {
namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

const std::string dumpHeader =
    ": last %d s (midi Public/Private/Port per s · CPU % · usb C=controller T=touch S=screen · disp) ----";

std::string header(const std::string& time, const std::string& title, int seconds) {
    std::string text = time + " ---- " + title + dumpHeader;
    text.replace(text.find("%d"), 2, std::to_string(seconds));
    return text;
}

// The lines logged at or after `from` ("00:00:03.500") and before `to`.
std::vector<std::string> linesBetween(const ToolRig& rig, const std::string& from,
                                      const std::string& to = "99") {
    std::vector<std::string> found;
    for (const std::string& line : rig.lines())
        if (line.substr(0, 12) >= from && line.substr(0, 12) < to) found.push_back(line);
    return found;
}

std::vector<std::string> headers(const ToolRig& rig) {
    std::vector<std::string> found;
    for (const std::string& line : rig.lines())
        if (line.find(" ---- ") == 12 && line.find("---- end ----") == std::string::npos)
            found.push_back(line);
    return found;
}

void append(const std::filesystem::path& file, const std::string& text) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::app | std::ios::binary) << text;
}

TEST(VigilStart, UnpluggedRig) {
    // Without the MPC the MIDI line arms nothing; the missing audio device does.
    ToolRig rig(false);
    rig.script = [&] {
        rig.time.advance(5);
        // Another device coming does not repeat the absence.
        rig.audio.add("USB Speakers");
        rig.time.advance(10);
    };
    EXPECT_EQ(rig.vigil(), 0);
    EXPECT_THAT(linesBetween(rig, "00:00:00.000", "00:00:01.000"),
                ElementsAre("00:00:00.000 ==== vigil started (read-only) ====",
                            "00:00:00.000 MIDI: MPC device ABSENT; listening to []",
                            "00:00:00.000 MPC is on USB bus 0x01",
                            "00:00:00.000 USB clients on MPC chips: (none)",
                            "00:00:00.000 audio: MPC Touch Audio device ABSENT"));
    EXPECT_THAT(headers(rig), ElementsAre(header("00:00:01.000", "audio device absent", 1)));
}

TEST(VigilStart, TakesMarksBeforeAnythingElse) {
    ToolRig rig;
    // A mark sent while the monitor starts must find the signal watched already.
    bool watchedFirst = false;
    rig.counting.onWatch = [&] { watchedFirst = rig.out.str().empty() && rig.midi.clientCount() == 0; };
    rig.script = [&] { rig.time.advance(2); };
    EXPECT_EQ(rig.vigil(), 0);
    EXPECT_TRUE(watchedFirst);
}

// The MPC's cable pulled: every chip and the hub go, then MIDI, audio and the display; one dump with
// the first reason and its aftermath 20 s later.
TEST(VigilScenario, Unplug) {
    ToolRig rig;
    rig.script = [&] {
        rig.time.advance(3.5);
        rig.mpc.unplug();
        rig.time.advance(30);
    };
    EXPECT_EQ(rig.vigil(), 0);
    std::vector<std::string> lines = linesBetween(rig, "00:00:03.500", "00:00:04.000");
    EXPECT_THAT(
        lines,
        ElementsAre("00:00:03.500 USB - GONE    MPC Touch  09e8:0037 @0x01110000  id 0x100000a09",
                    "00:00:03.500 USB - GONE    SiS HID Touch Controller  09e8:8001 @0x01120000  id "
                    "0x100000a12",
                    "00:00:03.500 USB - GONE    MPC Touch Display  17e9:ff00 @0x01130000  id 0x100000a16",
                    "00:00:03.500 USB - GONE    USB2.0 Hub  05e3:0608 @0x01100000  id 0x100000a02",
                    "00:00:03.500 audio: MPC Touch Audio device ABSENT",
                    "00:00:03.500 MIDI: MPC device ABSENT; listening to []"));
    std::vector<std::string> atTick = linesBetween(rig, "00:00:04.000", "00:00:04.001");
    ASSERT_EQ(atTick.size(), 9u);
    EXPECT_EQ(atTick[0], "00:00:04.000 MPC display GONE");
    EXPECT_EQ(atTick[1], "00:00:04.000 MPC USB presence CTS → ---");
    EXPECT_EQ(atTick[2],
              "00:00:04.000 USB clients changed: -DisplayLinkUserAgent→screen -MIDIServer→controller");
    EXPECT_EQ(atTick[3], header("00:00:04.000", "USB gone MPC Touch", 4));
    EXPECT_EQ(atTick[8], "00:00:04.000 ---- end ----");
    // The reasons armed during the hold-off came before the dump, so the first one alone is reported.
    EXPECT_THAT(headers(rig), ElementsAre(header("00:00:04.000", "USB gone MPC Touch", 4),
                                          header("00:00:24.000", "aftermath", 20)));
    EXPECT_EQ(linesBetween(rig, "00:00:24.000").size(), 22u);
}

TEST(VigilTrigger, HoldOffKeepsTheFirstReasonAndDumpsALaterOneAfterIt) {
    ToolRig rig;
    auto logFile = rig.home.path() / "Library/Logs/glassbridge.log";
    rig.script = [&] {
        rig.time.advance(2.5);
        // Two reasons before the first dump: the second is lost.
        rig.mpc.unplugPart(SimMpcTouch::Part::screen);
        append(logFile, "driver error 7\n");
        rig.time.advance(5);
        // One after the first dump: dumped when the hold-off ends, 10 s after the first.
        append(logFile, "touch GONE\n");
        rig.time.advance(40);
    };
    EXPECT_EQ(rig.vigil(), 0);
    EXPECT_THAT(headers(rig), ElementsAre(header("00:00:03.000", "USB gone MPC Touch Display", 3),
                                          header("00:00:13.000", "glassbridge: touch GONE", 13),
                                          header("00:00:33.000", "aftermath", 20)));
}

TEST(VigilRing, CapsAndDumpLengths) {
    ToolRig rig;
    rig.script = [&] {
        rig.time.advance(200.5);
        rig.mpc.unplugPart(SimMpcTouch::Part::touch);
        rig.time.advance(25);
    };
    EXPECT_EQ(rig.vigil(), 0);
    auto dump = linesBetween(rig, "00:03:21.000", "00:03:21.001");
    // The presence line, the clients line is not there (the touch chip holds none), then the dump.
    ASSERT_GE(dump.size(), 63u);
    EXPECT_EQ(dump[0], "00:03:21.000 MPC USB presence CTS → C-S");
    EXPECT_EQ(dump[1], header("00:03:21.000", "USB gone SiS HID Touch Controller", 60));
    EXPECT_THAT(dump[2], HasSubstr("t -59s"));
    EXPECT_THAT(dump[61], AllOf(HasSubstr("t  +0s"), HasSubstr("usb C-S")));
    EXPECT_EQ(dump[62], "00:03:21.000 ---- end ----");
    auto after = linesBetween(rig, "00:03:41.000", "00:03:41.001");
    ASSERT_EQ(after.size(), 22u);
    EXPECT_THAT(after[1], HasSubstr("t -19s"));
}

TEST(VigilTail, WordsTruncationHalfLinesAndReplacement) {
    ToolRig rig;
    auto glassbridge = rig.home.path() / "Library/Logs/glassbridge.log";
    auto inkwell = rig.home.path() / "Library/Logs/Inkwell/controller.log";
    append(glassbridge, "old line before start\n");
    rig.script = [&] {
        rig.time.advance(0.5);
        append(glassbridge, "\nfine\nUSB Left usb bus\nhalf");
        append(inkwell, "app started\n");
        rig.time.advance(1);
        append(glassbridge, " a line\n");
        rig.time.advance(1);
        // Truncated and rewritten shorter.
        std::ofstream(glassbridge, std::ios::trunc) << "new\n";
        rig.time.advance(1);
        // Replaced by a bigger file under the same name.
        auto replacement = glassbridge.string() + ".new";
        std::ofstream(replacement) << "replaced first line\nreplaced second line\n";
        std::filesystem::rename(replacement, glassbridge);
        rig.time.advance(1);
    };
    EXPECT_EQ(rig.vigil(), 0);
    std::vector<std::string> tails;
    for (const std::string& line : rig.lines())
        if (line.find(" [glassbridge] ") == 12 || line.find(" [app] ") == 12) tails.push_back(line);
    EXPECT_THAT(
        tails, ElementsAre("00:00:01.000 [glassbridge] fine", "00:00:01.000 [glassbridge] USB Left usb bus",
                           "00:00:01.000 [app] app started", "00:00:02.000 [glassbridge] half a line",
                           "00:00:03.000 [glassbridge] new", "00:00:04.000 [glassbridge] replaced first line",
                           "00:00:04.000 [glassbridge] replaced second line"));
    EXPECT_THAT(headers(rig), ElementsAre(header("00:00:01.000", "glassbridge: USB Left usb bus", 1)));
}

TEST(VigilMark, CommandLine) {
    {
        ToolRig rig;
        EXPECT_EQ(rig.vigil({"mark"}), 1);
        EXPECT_EQ(rig.out.str(), "no running vigil found (mark saved: (mark))\n");
        EXPECT_EQ(ScratchHome::read(rig.home.path() / "Library/Logs/vigil.mark"), "(mark)\n");
    }
    {
        ToolRig rig;
        // Its own process is named vigil too, and is not signalled.
        rig.processes.addProcess("vigil", 0, 400);
        int32_t other = rig.processes.addProcess("vigil");
        rig.processes.addProcess("vigilant");
        EXPECT_EQ(rig.vigil({"mark", "pads", "dead"}), 0);
        EXPECT_EQ(rig.out.str(), "marked: pads dead\n");
        EXPECT_EQ(ScratchHome::read(rig.home.path() / "Library/Logs/vigil.mark"), "pads dead\n");
        EXPECT_THAT(rig.processes.signalsSent(), ElementsAre(SimProcesses::SentSignal{other, SIGUSR1}));
    }
    {
        ToolRig rig;
        auto path = rig.home.path() / "Library/Logs/vigil.mark";
        std::filesystem::create_directories(path);
        EXPECT_EQ(rig.vigil({"mark", "x"}), 1);
        EXPECT_EQ(rig.err.str(), path.string() + ": Is a directory\n");
        EXPECT_EQ(rig.out.str(), "");
    }
}

TEST(VigilMark, MonitorShowsMarks) {
    ToolRig rig;
    rig.script = [&] {
        rig.time.advance(0.5);
        EXPECT_EQ(rig.vigil({"mark", "first take"}), 1); // the simulated list has no other vigil
        rig.processes.sendSignal(400, SIGUSR1);
        rig.time.advance(20);
        std::filesystem::remove(rig.home.path() / "Library/Logs/vigil.mark");
        rig.processes.sendSignal(400, SIGUSR1);
        rig.time.advance(1);
    };
    EXPECT_EQ(rig.vigil(), 0);
    EXPECT_THAT(rig.lines(), Contains("00:00:01.000 ==== MARK: first take ===="));
    EXPECT_THAT(rig.lines(), Contains("00:00:21.000 ==== MARK: (no text) ===="));
    EXPECT_THAT(headers(rig), Contains(header("00:00:01.000", "mark: first take", 1)));
    EXPECT_THAT(rig.processes.fatalSignals(), IsEmpty());
}

TEST(VigilSyslog, FilteringCountingTriggersAndRestart) {
    ToolRig rig;
    rig.script = [&] {
        rig.time.advance(0.5);
        rig.systemLog.emit("Filtering the log data using \"process == kernel\"");
        rig.systemLog.emit("Timestamp               Ty Process[PID:TID]");
        rig.systemLog.emit("");
        for (int i = 0; i < 7; ++i)
            rig.systemLog.emit("2026-01-01 00:00:00.500 E  coreaudiod[180] HAL OverLoad detected " +
                               std::to_string(i));
        rig.systemLog.emit("2026-01-01 00:00:00.500 E  MIDIServer[212] client gone");
        rig.time.advance(2);
        rig.systemLog.emit("2026-01-01 00:00:02.500 Df kernel[0] USB2.0 Hub: port 1 over-current");
        rig.time.advance(20);
        rig.systemLog.emit("2026-01-01 00:00:22.500 Df DFU-UTIL[900] flashing");
        rig.time.advance(20);
        EXPECT_TRUE(rig.systemLog.end());
        rig.time.advance(4.9);
        EXPECT_EQ(rig.systemLog.streamsStarted(), 1);
        rig.time.advance(0.2);
        EXPECT_EQ(rig.systemLog.streamsStarted(), 2);
        // A start that fails outright is tried again 5 s later, without a line.
        rig.systemLog.failStarts(1);
        rig.systemLog.end();
        rig.time.advance(10.1);
        EXPECT_EQ(rig.systemLog.streamsStarted(), 3);
    };
    EXPECT_EQ(rig.vigil(), 0);
    std::vector<std::string> syslog;
    for (const std::string& line : rig.lines())
        if (line.find("syslog") != std::string::npos) syslog.push_back(line);
    EXPECT_EQ(syslog.size(), 10u);
    EXPECT_EQ(syslog[0],
              "00:00:00.500 [syslog] 2026-01-01 00:00:00.500 E  coreaudiod[180] HAL OverLoad detected 0");
    EXPECT_EQ(syslog[5], "00:00:00.500 [syslog] 2026-01-01 00:00:00.500 E  MIDIServer[212] client gone");
    EXPECT_EQ(syslog[8], "00:00:42.500 syslog stream ended; restarting in 5 s");
    EXPECT_EQ(syslog[9], "00:00:47.600 syslog stream ended; restarting in 5 s");
    // "client gone" in the log arms nothing; the kernel and dfu-util lines do.
    // The second dump comes due with the first one's aftermath and takes its place.
    EXPECT_THAT(headers(rig), ElementsAre(header("00:00:03.000", "kernel/dfu-util log line", 3),
                                          header("00:00:23.000", "kernel/dfu-util log line", 23),
                                          header("00:00:43.000", "aftermath", 20)));
}

} // namespace
} // namespace tandem::testing
