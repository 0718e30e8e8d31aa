// vigil: a read-only health monitor for the MPC Touch. It watches the MPC's MIDI device, its USB
// chips and who holds them, its audio device, the system log, the touch driver's and Inkwell's logs,
// and samples MIDI traffic, CPU use, USB presence and the MPC's screen once a second. Every notable
// event arms a trigger; a triggered tick prints the last minute of history, and an aftermath 20 s
// later. `vigil mark [text]` drops a labelled mark into every running monitor's log.

#include "tools/ToolWorld.h"

#include "platform/MidiPacketList.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace tandem::vigil {

namespace {

constexpr int64_t akai = 2536, displayLink = 6121;
constexpr int64_t controllerProduct = 55, touchProduct = 32769, screenProduct = 65280;
constexpr uint32_t mpcDisplayVendor = 0x5109, mpcDisplayModel = 0x1211;
constexpr int ringSlots = 180;

struct Chip {
    const char* role;
    int64_t vendor, product;
};
constexpr std::array<Chip, 3> chips = {{{"controller", akai, controllerProduct},
                                        {"touch", akai, touchProduct},
                                        {"screen", displayLink, screenProduct}}};

const char* const tailTriggers[] = {"left usb", "removed", "gone", "error", "offline", "missing", "closed"};

std::string lower(std::string text) {
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool containsNoCase(const std::string& text, const std::string& lowerWord) {
    return lower(text).find(lowerWord) != std::string::npos;
}

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
    va_list args;
    va_start(args, pattern);
    va_list again;
    va_copy(again, args);
    int length = std::vsnprintf(nullptr, 0, pattern, args);
    va_end(args);
    std::string text(size_t(std::max(length, 0)), '\0');
    std::vsnprintf(text.data(), text.size() + 1, pattern, again);
    va_end(again);
    return text;
}

// Cuts at a byte count without splitting a UTF-8 sequence.
std::string cut(const std::string& text, size_t limit) {
    if (text.size() <= limit) return text;
    size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

std::string usbLetters(int flags) {
    std::string letters = "---";
    if (flags & 1) letters[0] = 'C';
    if (flags & 2) letters[1] = 'T';
    if (flags & 4) letters[2] = 'S';
    return letters;
}

// The MIDI read thread only adds to these.
struct MidiCounters {
    std::atomic<long> packets[3] = {0, 0, 0};
};

struct ProcessRecord {
    const char* label;
    const char* name;
    int32_t pid = 0;
    uint64_t lastTime = 0;
    double lastSample = -1; // none yet
};

struct Tail {
    std::filesystem::path path;
    const char* label;
    uint64_t offset = 0;
    dev_t device = 0;
    ino_t inode = 0;
};

struct Slot {
    double time = 0;
    long midi[3] = {0, 0, 0};
    double cpu[3] = {-1, -1, -1};
    int usb = 0;
    int display = 0;
};

class Monitor : public std::enable_shared_from_this<Monitor> {
public:
    Monitor(ToolWorld& world, std::ostream& out)
        : world(world)
        , out(out) {}

    void start();
    void stop();

private:
    template <class F> auto guarded(F fn) {
        return [weak = weak_from_this(), fn](auto&&... args) {
            if (auto self = weak.lock(); self && !self->stopped) fn(*self, args...);
        };
    }

    void log(const std::string& message);
    void arm(const std::string& reason);

    void scanMidi();
    void refreshBus();
    void usbNotice(const UsbDeviceNotice& notice);
    void snapshotClients(bool logging);
    void findAudio(bool starting);
    void logAudioState(const AudioDevice& device, const char* word);
    void audioPropertyChanged(uint32_t id);
    void power(const PowerMessage& message);
    void startSystemLog();
    void systemLogLine(std::string line);
    void systemLogEnded();
    void pollTail(Tail& tail);
    double sampleCpu(ProcessRecord& record, std::optional<std::vector<ProcessEntry>>& table, double now);
    void tick();
    void dump(const std::string& title, int seconds);

    ToolWorld& world;
    std::ostream& out;
    std::atomic<bool> stopped{false};

    std::mutex logLock; // every line, and the trigger's reason
    std::atomic<bool> triggered{false};
    std::string reason;

    std::shared_ptr<MidiCounters> counters = std::make_shared<MidiCounters>();
    MidiClientRef client = 0;
    MidiPortRef port = 0;
    int midiState = -2;

    int64_t bus = 0x01;
    ObservationToken usbWatch;
    std::string clients; // the sorted entries joined with ", "
    std::vector<std::string> clientEntries;
    double lastClientSnapshot = 0;

    uint32_t audioDevice = 0;
    bool audioAbsent = false;
    ObservationToken audioListWatch;
    std::vector<ObservationToken> audioDeviceWatches;

    std::array<Tail, 2> tails;
    ObservationToken powerWatch;
    ObservationToken markWatch;
    std::atomic<bool> markPending{false};
    std::filesystem::path markPath;

    ObservationToken systemLogStream; // only on the log reader's queue
    std::atomic<int> rtaid{0};
    std::atomic<int> overloads{0};

    std::array<ProcessRecord, 3> records = {
        {{"DL", "DisplayLinkUserAgent"}, {"app", "MPC Touch"}, {"glassbridge", "glassbridge"}}};
    std::array<Slot, ringSlots> ring;
    int ringIndex = 0, ringFill = 0;
    std::optional<int> lastUsb, lastDisplay;

    double cpuSum[3] = {0, 0, 0}, cpuMax[3] = {0, 0, 0};
    int ticksSummed = 0;
    long midiSum[3] = {0, 0, 0};
    double lastDump = -100;
    double aftermath = 0;
    std::optional<double> lastSummary;

    std::unique_ptr<Timer> timer;
};

void Monitor::log(const std::string& message) {
    auto date = world.clock.date();
    auto since = date.time_since_epoch();
    auto seconds = std::chrono::floor<std::chrono::seconds>(since);
    int millis = int(std::chrono::duration_cast<std::chrono::milliseconds>(since - seconds).count());
    std::time_t whole = std::time_t(seconds.count());
    std::tm local{};
    ::localtime_r(&whole, &local);
    char clock[16];
    std::strftime(clock, sizeof clock, "%H:%M:%S", &local);
    std::lock_guard guard(logLock);
    out << format("%s.%03d ", clock, millis) << message << '\n';
    out.flush();
}

void Monitor::arm(const std::string& why) {
    std::lock_guard guard(logLock);
    // The first reason after a dump is the one reported.
    if (triggered) return;
    reason = cut(why, 200);
    triggered = true;
}

void Monitor::start() {
    markPath = world.home / "Library/Logs/vigil.mark";
    // First of all: a mark sent while the monitor is still starting must not kill it.
    markWatch = world.processes.watchSignal(SIGUSR1, world.main,
                                            guarded([](Monitor& self) { self.markPending = true; }));

    log("==== vigil started (read-only) ====");

    MidiStatus status = world.midi.clientCreate(
        "vigil", guarded([](Monitor& self) {
            self.world.main->async(self.guarded([](Monitor& again) { again.scanMidi(); }));
        }),
        &client);
    if (status != midiNoError) client = 0;
    midiState = -2;
    scanMidi();

    refreshBus();
    log(format("MPC is on USB bus 0x%02lx", long(bus)));

    usbWatch = world.usb.observeDevices(
        world.main, guarded([](Monitor& self, const UsbDeviceNotice& notice) { self.usbNotice(notice); }));

    snapshotClients(true);

    findAudio(true);
    audioListWatch =
        world.audio.observeDevices(world.main, guarded([](Monitor& self) { self.findAudio(false); }));

    tails = {{{world.home / "Library/Logs/glassbridge.log", "glassbridge"},
              {world.home / "Library/Logs/Inkwell/controller.log", "app"}}};
    for (Tail& tail : tails) {
        struct stat info {};
        if (::stat(tail.path.c_str(), &info) == 0) {
            tail.offset = uint64_t(info.st_size);
            tail.device = info.st_dev;
            tail.inode = info.st_ino;
        }
    }

    powerWatch = world.power.observe(
        world.main, guarded([](Monitor& self, const PowerMessage& message) { self.power(message); }));

    world.logReader->async(guarded([](Monitor& self) { self.startSystemLog(); }));

    lastClientSnapshot = world.clock.uptime();
    timer = world.main->timer(1, 1, guarded([](Monitor& self) { self.tick(); }));
}

void Monitor::stop() {
    world.main->sync([&] {
        stopped = true;
        timer.reset();
        usbWatch.reset();
        audioDeviceWatches.clear();
        audioListWatch.reset();
        powerWatch.reset();
        markWatch.reset();
        if (port) world.midi.portDispose(port);
        if (client) world.midi.clientDispose(client);
        port = client = 0;
    });
    world.logReader->sync([&] { systemLogStream.reset(); });
}

void Monitor::scanMidi() {
    if (port) world.midi.portDispose(port);
    port = 0;
    if (client) {
        world.midi.inputPortCreate(
            client, "vigil in",
            [counters = counters](const MidiPacketList& list, void* reference) {
                auto which = reinterpret_cast<intptr_t>(reference);
                if (which >= 0 && which <= 2) counters->packets[which] += long(list.count());
            },
            &port);
    }
    int state = -1;
    std::string listening;
    for (size_t d = 0, devices = world.midi.numberOfDevices(); d < devices; ++d) {
        MidiDeviceRef device = world.midi.device(d);
        std::string model;
        world.midi.stringProperty(device, MidiProperty::model, &model);
        if (model.find("MPC Touch") == std::string::npos) continue;
        int32_t offline = 0;
        world.midi.integerProperty(device, MidiProperty::offline, &offline);
        state = offline;
        for (size_t e = 0, entities = world.midi.numberOfEntities(device); e < entities; ++e) {
            MidiEntityRef entity = world.midi.entity(device, e);
            std::string name;
            world.midi.stringProperty(entity, MidiProperty::name, &name);
            intptr_t reference = name == "Public" ? 0 : name == "Private" ? 1 : name == "MIDI Port" ? 2 : -1;
            if (reference < 0 || world.midi.numberOfSources(entity) == 0) continue;
            if (port)
                world.midi.portConnectSource(port, world.midi.source(entity, 0),
                                             reinterpret_cast<void*>(reference));
            std::string next = listening.empty() ? name : listening + " " + name;
            if (next.size() <= 96) listening = next;
        }
    }
    if (state != midiState) {
        log(format("MIDI: MPC device %s; listening to [%s]",
                   state == -1  ? "ABSENT"
                   : state != 0 ? "OFFLINE"
                                : "online",
                   listening.c_str()));
        if (midiState != -2 && state != 0) arm("MIDI device offline/absent");
    }
    midiState = state;
}

void Monitor::refreshBus() {
    auto found = world.usb.matchingServices({"IOUSBHostDevice", akai, controllerProduct});
    if (found.empty()) return;
    int64_t location = found.front().number("locationID").value_or(0);
    if (location > 0) bus = (location >> 24) & 0xff;
}

void Monitor::usbNotice(const UsbDeviceNotice& notice) {
    const UsbRegistryEntry& entry = notice.entry;
    int64_t vendor = entry.number("idVendor").value_or(-1);
    int64_t product = entry.number("idProduct").value_or(-1);
    int64_t location = entry.number("locationID").value_or(0);
    if (vendor != akai && vendor != displayLink && ((location >> 24) & 0xff) != bus) return;
    std::string name = cut(entry.name, 127);
    log(format("USB %s %s  %04lx:%04lx @0x%08lx  id 0x%llx", notice.arrived ? "+ ARRIVED" : "- GONE   ",
               name.c_str(), long(vendor), long(product), long(location),
               static_cast<unsigned long long>(entry.id)));
    arm(format("USB %s %s", notice.arrived ? "arrived" : "gone", name.c_str()));
    if (notice.arrived && vendor == akai && product == controllerProduct) refreshBus();
}

void Monitor::snapshotClients(bool logging) {
    std::set<std::string> found;
    for (const Chip& chip : chips) {
        for (const UsbRegistryEntry& device :
             world.usb.matchingServices({"IOUSBHostDevice", chip.vendor, chip.product})) {
            std::vector<UsbRegistryEntry> pending = world.usb.children(device.id);
            while (!pending.empty()) {
                UsbRegistryEntry entry = std::move(pending.back());
                pending.pop_back();
                for (UsbRegistryEntry& child : world.usb.children(entry.id))
                    pending.push_back(std::move(child));
                if (entry.className.find("UserClient") == std::string::npos) continue;
                std::string creator = "?";
                if (auto text = entry.string("IOUserClientCreator")) {
                    int pid = 0;
                    char process[64] = {0};
                    creator =
                        std::sscanf(text->c_str(), "pid %d, %63[^\n]", &pid, process) == 2 ? process : *text;
                }
                if (found.size() < 64) found.insert(cut(creator, 63) + "→" + chip.role);
            }
        }
    }
    std::vector<std::string> entries(found.begin(), found.end());
    std::string joined;
    for (const std::string& entry : entries)
        joined += (joined.empty() ? "" : ", ") + entry;
    if (logging) {
        log("USB clients on MPC chips: " + (joined.empty() ? std::string("(none)") : joined));
    } else if (entries != clientEntries) {
        // Entry by entry: "MIDIServer→touch" is no part of "MIDIServer→touchpad".
        std::string change = "USB clients changed:";
        for (const std::string& entry : entries)
            if (!std::binary_search(clientEntries.begin(), clientEntries.end(), entry))
                change += " +" + entry;
        for (const std::string& entry : clientEntries)
            if (!std::binary_search(entries.begin(), entries.end(), entry)) change += " -" + entry;
        log(change);
    }
    clients = joined;
    clientEntries = std::move(entries);
    lastClientSnapshot = world.clock.uptime();
}

void Monitor::logAudioState(const AudioDevice& device, const char* word) {
    log(format("audio: MPC Touch Audio (%u) %s — alive %u, running %u, %.0f Hz", device.id, word,
               unsigned(device.alive), unsigned(device.runningSomewhere), device.nominalSampleRate));
    if (!device.alive) arm("audio device not alive");
}

void Monitor::findAudio(bool starting) {
    std::vector<AudioDevice> devices = world.audio.devices();
    if (devices.size() > 128) devices.resize(128);
    auto found = std::find_if(devices.begin(), devices.end(), [](const AudioDevice& device) {
        return device.name.find("MPC Touch") != std::string::npos;
    });
    if (found == devices.end()) {
        audioDeviceWatches.clear();
        audioDevice = 0;
        // Said once when it goes, not again at every change of an unrelated device.
        if (starting || !audioAbsent) {
            log("audio: MPC Touch Audio device ABSENT");
            arm("audio device absent");
        }
        audioAbsent = true;
        return;
    }
    audioAbsent = false;
    if (found->id == audioDevice) return;
    audioDevice = found->id;
    audioDeviceWatches.clear();
    for (AudioDeviceProperty property : {AudioDeviceProperty::alive, AudioDeviceProperty::runningSomewhere,
                                         AudioDeviceProperty::nominalSampleRate}) {
        audioDeviceWatches.push_back(world.audio.observeDevice(
            found->id, property, world.main,
            guarded([id = found->id](Monitor& self) { self.audioPropertyChanged(id); })));
    }
    logAudioState(*found, "found");
}

void Monitor::audioPropertyChanged(uint32_t id) {
    if (id != audioDevice) return;
    if (auto device = world.audio.device(id)) logAudioState(*device, "changed");
}

void Monitor::power(const PowerMessage& message) {
    switch (message.kind) {
    case PowerMessage::Kind::hasPoweredOn:
        log("Mac woke");
        break;
    case PowerMessage::Kind::willSleep:
        log("Mac going to sleep");
        world.power.allowPowerChange(message.notification);
        break;
    case PowerMessage::Kind::canSleep:
        world.power.allowPowerChange(message.notification);
        break;
    case PowerMessage::Kind::other:
        break;
    }
}

void Monitor::startSystemLog() {
    systemLogStream = world.systemLog.stream(
        world.logReader, guarded([](Monitor& self, const std::string& line) { self.systemLogLine(line); }),
        guarded([](Monitor& self) { self.systemLogEnded(); }));
    if (!systemLogStream) world.logReader->after(5, guarded([](Monitor& self) { self.startSystemLog(); }));
}

void Monitor::systemLogEnded() {
    // The token goes outside its own callback.
    world.logReader->async(guarded([](Monitor& self) { self.systemLogStream.reset(); }));
    log("syslog stream ended; restarting in 5 s");
    world.logReader->after(5, guarded([](Monitor& self) { self.startSystemLog(); }));
}

void Monitor::systemLogLine(std::string line) {
    if (line.size() > 1023) line = cut(line, 1023);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    if (line.empty() || line.rfind("Filtering", 0) == 0 || line.rfind("Timestamp", 0) == 0) return;
    if (line.find("RTAID") != std::string::npos) {
        ++rtaid;
        return;
    }
    if (line.find("coreaudiod") != std::string::npos && containsNoCase(line, "overload")) {
        if (overloads++ < 5) log("[syslog] " + cut(line, 300));
        return;
    }
    log("[syslog] " + cut(line, 300));
    if (line.find(" kernel[") != std::string::npos || containsNoCase(line, "dfu-util"))
        arm("kernel/dfu-util log line");
}

void Monitor::pollTail(Tail& tail) {
    struct stat info {};
    if (::stat(tail.path.c_str(), &info) != 0) return;
    uint64_t size = uint64_t(info.st_size);
    // Another file under the same name (rotated, rewritten) is read from its start, whatever its size.
    if (info.st_dev != tail.device || info.st_ino != tail.inode) {
        tail.offset = 0;
        tail.device = info.st_dev;
        tail.inode = info.st_ino;
    }
    if (size < tail.offset) tail.offset = 0;
    if (size == tail.offset) return;
    std::ifstream file(tail.path, std::ios::binary);
    if (!file) return;
    constexpr uint64_t most = 4 << 20; // a tick's share; the rest comes next tick
    uint64_t want = std::min(size - tail.offset, most);
    std::string bytes(want, '\0');
    file.seekg(std::streamoff(tail.offset));
    file.read(bytes.data(), std::streamsize(want));
    bytes.resize(size_t(file.gcount()));
    size_t used = 0;
    while (true) {
        size_t end = bytes.find('\n', used);
        if (end == std::string::npos) {
            // A half-written last line waits for its end, unless it alone fills a whole share.
            if (used == 0 && bytes.size() == most)
                end = bytes.size();
            else
                break;
        }
        std::string line = bytes.substr(used, end - used);
        used = std::min(end + 1, bytes.size());
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        line = cut(line, 1023);
        log(format("[%s] %s", tail.label, line.c_str()));
        for (const char* word : tailTriggers) {
            if (containsNoCase(line, word)) {
                arm(format("%s: %.100s", tail.label, cut(line, 100).c_str()));
                break;
            }
        }
    }
    tail.offset += used;
}

double Monitor::sampleCpu(ProcessRecord& record, std::optional<std::vector<ProcessEntry>>& table,
                          double now) {
    std::optional<uint64_t> time;
    if (record.pid > 0) time = world.processes.cpuTime(record.pid);
    if (!time) {
        // One scan of the process table serves every record of the tick.
        if (!table) table = world.processes.list();
        int32_t found = 0;
        for (const ProcessEntry& entry : *table) {
            if (entry.name == record.name) {
                found = entry.pid;
                break;
            }
        }
        if (found > 0) time = world.processes.cpuTime(found);
        if (!time) {
            record.pid = 0;
            record.lastTime = 0;
            record.lastSample = -1;
            return -1;
        }
        // Another process: its time says nothing against the old one's.
        if (found != record.pid) record.lastSample = -1;
        record.pid = found;
    }
    double percent = 0;
    if (record.lastSample >= 0 && now > record.lastSample)
        percent = (double(*time) - double(record.lastTime)) / 1e9 / (now - record.lastSample) * 100;
    record.lastTime = *time;
    record.lastSample = now;
    return percent;
}

void Monitor::tick() {
    double now = world.clock.uptime();
    Slot slot;
    slot.time = now;
    for (int i = 0; i < 3; ++i) {
        slot.midi[i] = counters->packets[i].exchange(0);
        midiSum[i] += slot.midi[i];
    }
    std::optional<std::vector<ProcessEntry>> table;
    for (int i = 0; i < 3; ++i)
        slot.cpu[i] = sampleCpu(records[i], table, now);
    for (size_t i = 0; i < chips.size(); ++i) {
        if (!world.usb.matchingServices({"IOUSBHostDevice", chips[i].vendor, chips[i].product}).empty())
            slot.usb |= 1 << i;
    }
    int online = 0;
    for (const DisplayInfo& display : world.displays.displays()) {
        if (!display.online) continue;
        if (++online > 16) break;
        if (display.vendorNumber == mpcDisplayVendor && display.modelNumber == mpcDisplayModel)
            slot.display = 1;
    }
    ring[size_t(ringIndex)] = slot;
    ringIndex = (ringIndex + 1) % ringSlots;
    ringFill = std::min(ringFill + 1, ringSlots);

    if (lastDisplay && *lastDisplay != slot.display) {
        log(format("MPC display %s", slot.display ? "BACK" : "GONE"));
        arm(slot.display ? "MPC display back" : "MPC display gone");
    }
    lastDisplay = slot.display;
    if (lastUsb && *lastUsb != slot.usb)
        log(format("MPC USB presence %s → %s", usbLetters(*lastUsb).c_str(), usbLetters(slot.usb).c_str()));
    lastUsb = slot.usb;

    for (int i = 0; i < 3; ++i) {
        if (slot.cpu[i] < 0) continue;
        cpuSum[i] += slot.cpu[i];
        cpuMax[i] = std::max(cpuMax[i], slot.cpu[i]);
    }
    ++ticksSummed;

    for (Tail& tail : tails)
        pollTail(tail);

    if (markPending.exchange(false)) {
        std::string text = "(no text)";
        if (std::FILE* file = std::fopen(markPath.c_str(), "r")) {
            char line[256];
            if (std::fgets(line, sizeof line, file)) {
                text = line;
                if (!text.empty() && text.back() == '\n') text.pop_back();
            }
            std::fclose(file);
        }
        log(format("==== MARK: %s ====", text.c_str()));
        arm(format("mark: %s", cut(text, 180).c_str()));
    }

    if (now - lastClientSnapshot >= 2) snapshotClients(false);

    if (triggered && now - lastDump >= 10) {
        std::string title;
        {
            std::lock_guard guard(logLock);
            title = reason;
            triggered = false;
        }
        lastDump = now;
        aftermath = now + 20;
        dump(title, 60);
    }
    if (aftermath > 0 && now >= aftermath) {
        aftermath = 0;
        dump("aftermath", 20);
    }

    if (!lastSummary || now - *lastSummary >= 60) {
        if (lastSummary) {
            double ticks = std::max(ticksSummed, 1);
            log(format(
                "minute: midi %ld/%ld/%ld · DL avg %.1f max %.1f · app avg %.1f max %.1f · glassbridge avg "
                "%.1f max %.1f · RTAID %d · usb %s · disp %d",
                midiSum[0], midiSum[1], midiSum[2], cpuSum[0] / ticks, cpuMax[0], cpuSum[1] / ticks,
                cpuMax[1], cpuSum[2] / ticks, cpuMax[2], rtaid.exchange(0), usbLetters(slot.usb).c_str(),
                slot.display));
        }
        lastSummary = now;
        for (int i = 0; i < 3; ++i)
            cpuSum[i] = cpuMax[i] = 0, midiSum[i] = 0;
        ticksSummed = 0;
        overloads = 0;
    }
}

void Monitor::dump(const std::string& title, int seconds) {
    int n = std::min(ringFill, seconds);
    log(format(
        "---- %s: last %d s (midi Public/Private/Port per s · CPU %% · usb C=controller T=touch S=screen · "
        "disp) ----",
        title.c_str(), n));
    const Slot& newest = ring[size_t((ringIndex + ringSlots - 1) % ringSlots)];
    for (int k = n; k >= 1; --k) {
        const Slot& slot = ring[size_t((ringIndex + ringSlots - k) % ringSlots)];
        log(format(
            "   t%+4.0fs  midi %3ld/%3ld/%3ld  DL %5.1f  app %5.1f  glassbridge %4.1f  usb %s  disp %d",
            slot.time - newest.time, slot.midi[0], slot.midi[1], slot.midi[2], slot.cpu[0], slot.cpu[1],
            slot.cpu[2], usbLetters(slot.usb).c_str(), slot.display));
    }
    log("---- end ----");
}

int mark(const std::vector<std::string>& arguments, ToolWorld& world, std::ostream& out, std::ostream& err) {
    // Every word after "mark" is the text, so that an unquoted label is not cut to its first word.
    std::string text;
    for (size_t i = 1; i < arguments.size(); ++i)
        text += (i > 1 ? " " : "") + arguments[i];
    if (arguments.size() < 2) text = "(mark)";
    std::filesystem::path path = world.home / "Library/Logs/vigil.mark";
    std::error_code ignored;
    std::filesystem::create_directories(path.parent_path(), ignored);
    std::FILE* file = std::fopen(path.c_str(), "w");
    bool written = file && std::fprintf(file, "%s\n", text.c_str()) >= 0;
    if (file && std::fclose(file) != 0) written = false;
    if (!written) {
        err << path.string() << ": " << std::strerror(errno) << '\n';
        return 1;
    }
    int32_t self = world.processes.currentProcessIdentifier();
    int signalled = 0;
    for (const ProcessEntry& entry : world.processes.list()) {
        if (entry.pid == self || entry.name != "vigil") continue;
        if (world.processes.sendSignal(entry.pid, SIGUSR1) == 0) ++signalled;
    }
    if (signalled > 0) {
        out << format("marked: %s\n", text.c_str());
        return 0;
    }
    out << format("no running vigil found (mark saved: %s)\n", text.c_str());
    return 1;
}

} // namespace

int run(const std::vector<std::string>& arguments, ToolWorld& world, std::ostream& out, std::ostream& err) {
    if (!arguments.empty() && arguments[0] == "mark") return mark(arguments, world, out, err);
    auto monitor = std::make_shared<Monitor>(world, out);
    world.main->sync([&] { monitor->start(); });
    world.runLoop();
    monitor->stop();
    return 0;
}

} // namespace tandem::vigil

#ifndef TANDEM_TOOL_NO_MAIN
#include "tools/LinuxToolWorld.h"

#include <iostream>

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    auto machine = tandem::LinuxToolMachine::make("vigil");
    return tandem::vigil::run(arguments, machine->world(), std::cout, std::cerr);
}
#endif
