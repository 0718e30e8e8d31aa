#include "tools/ToolRig.h"

#include "base/ThreadQueue.h"
#include "platform/linux/JournalSystemLog.h"
#include "platform/linux/LibUsbHost.h"
#include "platform/linux/LinuxDisplays.h"
#include "platform/linux/LinuxHid.h"
#include "platform/linux/ProcFs.h"
#include "platform/linux/SysfsUsb.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>

namespace tandem::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

void put(const fs::path& file, const std::string& bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
}

std::vector<uint8_t> edid(uint8_t v0, uint8_t v1, uint8_t m0, uint8_t m1) {
    std::vector<uint8_t> block(128, 0);
    const uint8_t header[8] = {0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x00};
    std::copy(header, header + 8, block.begin());
    block[8] = v0, block[9] = v1, block[10] = m0, block[11] = m1;
    return block;
}

TEST(LinuxUsbLocation, FromSysfsNames) {
    const std::pair<const char*, std::optional<int64_t>> table[] = {
        {"3-2.4.1", 0x03241000},           {"2-1.1.1.1.1.1", 0x02111111}, {"12-15", 0x0cf00000},
        {"1-1.1.1.1.1.1.1", std::nullopt}, {"1-16", std::nullopt},        {"usb1", std::nullopt},
        {"1-1:1.0", std::nullopt},
    };
    for (const auto& [name, location] : table)
        EXPECT_EQ(usbLocationID(name), location) << name;
}

// A sysfs tree as the kernel lays it out: devices nested below their hubs, bus/usb/devices linking
// to each, interfaces with their bound drivers.
struct SysfsFixture {
    explicit SysfsFixture(const fs::path& root)
        : root(root) {
        top = root / "sys/devices/pci0000:00/0000:00:14.0";
        device("usb1", top / "usb1", 0x1d6b, 0x0002, "Linux Foundation", "xHCI Host Controller", 1);
        interface("usb1", "1-0:1.0", 0, 0x09, "hub");
        device("1-1", top / "usb1/1-1", 0x05e3, 0x0608, "GenesysLogic", "USB2.0 Hub", 2);
        interface("1-1", "1-1:1.0", 0, 0x09, "hub");
        device("1-1.1", top / "usb1/1-1/1-1.1", 2536, 55, "Akai Professional", "MPC Touch", 3);
        interface("1-1.1", "1-1.1:1.0", 0, 0x01, "snd-usb-audio", "MPC Touch Audio");
        interface("1-1.1", "1-1.1:1.2", 2, 0x01, "snd-usb-audio");
        device("1-1.3", top / "usb1/1-1/1-1.3", 6121, 65280, "DisplayLink", "MPC Touch Display", 4);
        device("1-2", top / "usb1/1-2", 0x046d, 0xc52b, "Logitech", "USB Receiver", 5);
    }

    void device(const std::string& name, const fs::path& folder, int vendor, int product,
                const std::string& maker, const std::string& productName, int address) {
        folders[name] = folder;
        char hex[8];
        std::snprintf(hex, sizeof hex, "%04x\n", vendor);
        put(folder / "idVendor", hex);
        std::snprintf(hex, sizeof hex, "%04x\n", product);
        put(folder / "idProduct", hex);
        put(folder / "manufacturer", maker + "\n");
        put(folder / "product", productName + "\n");
        put(folder / "devnum", std::to_string(address) + "\n");
        put(folder / "busnum", "1\n");
        // Not what the kernel shows, so that a test can see the last value written.
        put(folder / "authorized", "?\n");
        link(name, folder);
    }

    void interface(const std::string& device, const std::string& name, int number, int kind,
                   const std::string& driver, const std::string& label = "") {
        fs::path folder = folders[device] / name;
        char hex[8];
        std::snprintf(hex, sizeof hex, "%02x\n", number);
        put(folder / "bInterfaceNumber", hex);
        std::snprintf(hex, sizeof hex, "%02x\n", kind);
        put(folder / "bInterfaceClass", hex);
        if (!label.empty()) put(folder / "interface", label + "\n");
        fs::create_directories(root / "sys/bus/usb/drivers" / driver);
        fs::create_directory_symlink(root / "sys/bus/usb/drivers" / driver, folder / "driver");
        link(name, folder);
    }

    void link(const std::string& name, const fs::path& folder) {
        fs::create_directories(root / "sys/bus/usb/devices");
        fs::create_directory_symlink(folder, root / "sys/bus/usb/devices" / name);
    }

    UsbRoots roots() const { return {root / "sys", root / "dev", root / "proc"}; }

    fs::path root, top;
    std::map<std::string, fs::path> folders;
};

ToolWorld worldWith(ToolRig& rig, UsbHost& usb) {
    ToolWorld& w = rig.world;
    return {w.clock, w.main,      w.logReader, w.midi,      usb,    w.hid,     w.displays,
            w.audio, w.systemLog, w.power,     w.processes, w.home, w.runLoop, w.runFor};
}

TEST(LinuxUsbRegistry, TreeParentsAndTheToolsOnIt) {
    ToolRig rig(false);
    SysfsFixture fixture(rig.home.path() / "fixture");
    LibUsbHost usb(fixture.roots(), false);

    auto controllers = usb.matchingServices({"IOUSBHostDevice", 2536, 55});
    ASSERT_EQ(controllers.size(), 1u);
    EXPECT_EQ(controllers[0].number("locationID"), 0x01110000);
    EXPECT_EQ(controllers[0].string("USB Product Name"), "MPC Touch");
    // Root hubs are no devices: five devices below it, none of them "usb1".
    EXPECT_EQ(usb.matchingServices({"IOUSBHostDevice"}).size(), 4u);

    // Up from the controller: the hub's driver, its interface, the hub.
    auto driver = usb.parent(controllers[0].id);
    ASSERT_TRUE(driver);
    EXPECT_EQ(driver->className, "hub");
    auto hubInterface = usb.parent(driver->id);
    ASSERT_TRUE(hubInterface);
    auto hub = usb.parent(hubInterface->id);
    ASSERT_TRUE(hub);
    EXPECT_EQ(hub->name, "USB2.0 Hub");
    EXPECT_EQ(hub->number("locationID"), 0x01100000);

    std::ostringstream out, err;
    ToolWorld world = worldWith(rig, usb);
    // The hub carries only MPC parts: it is de-authorized and authorized again.
    EXPECT_EQ(rekick::run({"all"}, world, out, err), 0);
    EXPECT_EQ(out.str(), "MPC hub @ 0x01100000\n"
                         "  on this hub: 09e8:0037 @ 0x01110000\n"
                         "  on this hub: 17e9:ff00 @ 0x01130000\n"
                         "MPC internal hub: re-enumerate (open) → 0x0 ok\n");
    EXPECT_EQ(ScratchHome::read(fixture.folders["1-1"] / "authorized"), "1\n");
    EXPECT_EQ(ScratchHome::read(fixture.folders["1-1.1"] / "authorized"), "?\n");
}

TEST(LinuxUsbRegistry, ProcessesHoldingTheNodeAreUserClients) {
    ToolRig rig(false);
    SysfsFixture fixture(rig.home.path() / "fixture");
    fs::path node = fixture.root / "dev/bus/usb/001/003";
    put(node, "");
    put(fixture.root / "proc/512/comm", "DisplayLinkUser\n");
    put(fixture.root / "proc/512/cmdline", std::string("/opt/displaylink/DisplayLinkUserAgent\0-v\0", 42));
    fs::create_directories(fixture.root / "proc/512/fd");
    fs::create_symlink(node, fixture.root / "proc/512/fd/7");
    LibUsbHost usb(fixture.roots(), false);
    auto controller = usb.matchingServices({"IOUSBHostDevice", 2536, 55}).at(0);
    std::vector<std::string> clients;
    for (const auto& child : usb.children(controller.id))
        if (auto creator = child.string("IOUserClientCreator"))
            clients.push_back(child.className + " " + *creator);
    EXPECT_THAT(clients, ElementsAre("UsbDevFsUserClient pid 512, DisplayLinkUserAgent"));
    // Someone holds it: open says so, and a seize goes ahead.
    auto device = usb.deviceInterface(controller.id);
    ASSERT_TRUE(device);
    EXPECT_EQ(device->open(), IOReturn::exclusiveAccess);
    EXPECT_EQ(device->openSeize(), IOReturn::success);
}

TEST(LinuxProcFs, NamesTimesAndList) {
    ScratchHome home;
    fs::path proc = home.path() / "proc";
    put(proc / "42/comm", "DisplayLinkUser\n");
    put(proc / "42/cmdline", std::string("/usr/bin/DisplayLinkUserAgent\0--x\0", 34));
    // A name with blanks and parentheses, then utime 250 and stime 50 ticks.
    put(proc / "42/stat", "42 (Display (Link) x) S 1 42 42 0 -1 4194560 100 0 0 0 250 50 0 0 20 0 1 0");
    put(proc / "7/comm", "glassbridge\n");
    put(proc / "self-not-a-pid/comm", "x\n");
    EXPECT_EQ(procfs::processName(proc, 42), "DisplayLinkUserAgent");
    EXPECT_EQ(procfs::processName(proc, 99), "");
    EXPECT_THAT(procfs::list(proc),
                ElementsAre(ProcessEntry{7, "glassbridge"}, ProcessEntry{42, "DisplayLinkUserAgent"}));
    long ticks = ::sysconf(_SC_CLK_TCK);
    EXPECT_EQ(procfs::cpuTime(proc, 42), uint64_t(300) * 1000000000ull / uint64_t(ticks));
    EXPECT_EQ(procfs::cpuTime(proc, 7), std::nullopt);
}

TEST(LinuxDisplays, EdidNumbersAndDrmConnectors) {
    auto mpc = edid(0x51, 0x09, 0x11, 0x12);
    EXPECT_EQ(edidNumbers(mpc), (EdidNumbers{0x5109, 0x1211}));
    auto wrong = mpc;
    wrong[0] = 1;
    EXPECT_EQ(edidNumbers(wrong), std::nullopt);
    EXPECT_EQ(edidNumbers(std::span(mpc).first(100)), std::nullopt);

    ScratchHome home;
    fs::path drm = home.path() / "sys/class/drm";
    put(drm / "card0/dev", "226:0\n");
    put(drm / "card0-DP-1/status", "disconnected\n");
    put(drm / "card0-HDMI-A-1/status", "connected\n");
    put(drm / "card0-HDMI-A-1/enabled", "enabled\n");
    put(drm / "card0-HDMI-A-1/modes", "1280x800\n1024x768\n");
    put(drm / "card0-HDMI-A-1/edid", std::string(mpc.begin(), mpc.end()));
    put(drm / "card0-HDMI-A-2/status", "connected\n");
    put(drm / "card0-HDMI-A-2/enabled", "disabled\n");
    LinuxDisplays displays(home.path() / "sys");
    EXPECT_THAT(displays.drmDisplays(),
                ElementsAre(DisplayInfo{2, {0, 0, 1280, 800}, false, true, true, 0x5109, 0x1211},
                            DisplayInfo{3, {}, false, true, false, 0, 0}));
}

TEST(LinuxJournal, RecordsBecomeCompactLines) {
    setenv("TZ", "UTC", 1);
    tzset();
    const std::string at = R"("__REALTIME_TIMESTAMP":"1767225600123456")"; // 2026-01-01T00:00:00.123456Z
    const std::string day = "2026-01-01 00:00:00.123 ";
    // Which records become lines, and how each is written.
    const std::pair<std::string, std::optional<std::string>> table[] = {
        {R"("_TRANSPORT":"kernel","PRIORITY":"6","MESSAGE":"usb 1-1.1: Product: MPC Touch")",
         "I  kernel[0] usb 1-1.1: Product: MPC Touch"},
        {R"("_TRANSPORT":"kernel","PRIORITY":"6","MESSAGE":"eth0: link up")", std::nullopt},
        {R"("SYSLOG_IDENTIFIER":"DisplayLinkUserAgent","_PID":"305","PRIORITY":"3","MESSAGE":"lost")",
         "E  DisplayLinkUserAgent[305] lost"},
        {R"("SYSLOG_IDENTIFIER":"DisplayLinkUserAgent","_PID":"305","PRIORITY":"6","MESSAGE":"fine")",
         std::nullopt},
        // A message that is not UTF-8 comes as bytes.
        {R"("_COMM":"coreaudiod","_PID":"9","PRIORITY":"5","MESSAGE":[82,84,65,73,68,32,255])",
         "Df coreaudiod[9] RTAID \xff"},
    };
    for (const auto& [fields, line] : table)
        EXPECT_EQ(compactJournalLine("{" + fields + "," + at + "}"), line ? std::optional(day + *line) : line)
            << fields;
    EXPECT_EQ(compactJournalLine("-- No entries --"), std::nullopt);
}

TEST(LinuxJournal, StreamsAProgramsLinesThenEnds) {
    ScratchHome home;
    fs::path program = home.path() / "fake-journal";
    put(program, "#!/bin/sh\n"
                 "echo '{\"_TRANSPORT\":\"kernel\",\"MESSAGE\":\"usb 1-1.3: "
                 "DisplayLink\",\"__REALTIME_TIMESTAMP\":\"0\"}'\n"
                 "echo '{\"_TRANSPORT\":\"kernel\",\"MESSAGE\":\"unrelated\"}'\n"
                 "echo 'not json'\n");
    fs::permissions(program, fs::perms::owner_all);
    auto queue = std::make_shared<ThreadQueue>("journal");
    for (const std::string& which : {program.string(), (home.path() / "missing").string()}) {
        std::mutex lock;
        std::condition_variable changed;
        std::vector<std::string> lines;
        bool ended = false;
        JournalSystemLog log(which);
        auto token = log.stream(
            queue,
            [&](const std::string& line) {
                std::lock_guard guard(lock);
                lines.push_back(line);
            },
            [&] {
                std::lock_guard guard(lock);
                ended = true;
                changed.notify_all();
            });
        std::unique_lock guard(lock);
        ASSERT_TRUE(changed.wait_for(guard, std::chrono::seconds(10), [&] { return ended; })) << which;
        EXPECT_EQ(lines.size(), which == program.string() ? 1u : 0u);
        guard.unlock();
        queue->sync([&] { token.reset(); });
    }
    queue->stop();
}

TEST(LinuxHid, ReportDescriptorSummary) {
    const uint8_t descriptor[] = {
        0x05, 0x0D, 0x09, 0x04, 0xA1, 0x01,             // digitizer, touch screen, application
        0x85, 0x01, 0x75, 0x08, 0x95, 0x3F, 0x81, 0x02, // report 1: 63 bytes in
        0x85, 0x02, 0x95, 0x02, 0xB1, 0x02,             // report 2: 2 bytes feature
        0xC0,                                           //
        0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,       // vendor page, usage 1
        0x85, 0x03, 0x95, 0x3F, 0x91, 0x02, 0xC0,       // report 3: 63 bytes out
    };
    HidReportSummary summary = parseReportDescriptor(descriptor);
    EXPECT_THAT(summary.topLevel,
                ElementsAre(HidDevice::UsagePair{0x0D, 0x04}, HidDevice::UsagePair{0xFF00, 0x01}));
    EXPECT_EQ(summary.maxInput, 64);
    EXPECT_EQ(summary.maxOutput, 64);
    EXPECT_EQ(summary.maxFeature, 3);
    // A descriptor cut short ends the parse without reading past it.
    EXPECT_NO_FATAL_FAILURE(parseReportDescriptor(std::span(descriptor).first(13)));
}

} // namespace
} // namespace tandem::testing
