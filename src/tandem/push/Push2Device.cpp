#include "tandem/push/Push2Device.h"

#include "base/ActivityLog.h"
#include "base/Text.h"
#include "push2_display/push2_display.h"

#include <algorithm>

namespace tandem {

namespace {

constexpr double replyWait = 0.2;
constexpr double reopenInterval = 2.0;
constexpr size_t framePixels = size_t(push2_display_width) * push2_display_height;

bool isUserPort(const std::string& displayName) {
    std::string name = Text::lowercase(displayName);
    return name.find("ableton push 2 user port") != std::string::npos &&
           name.find("live port") == std::string::npos;
}

std::string displayText(int32_t openResult) {
    switch (openResult) {
    case 0:
        return "DISPLAY: ON";
    case -1:
        return "DISPLAY: NOT FOUND ON USB";
    case -2:
        return "DISPLAY: IN USE BY ANOTHER APP (CLOSE ABLETON LIVE)";
    default:
        return "DISPLAY: COULD NOT OPEN";
    }
}

} // namespace

std::shared_ptr<Push2Device> Push2Device::create(MidiSystem& midi, Clock& clock, UsbHost& usb,
                                                 std::shared_ptr<Queue> mainQueue,
                                                 std::shared_ptr<Queue> displayQueue) {
    return std::shared_ptr<Push2Device>(
        new Push2Device(midi, clock, usb, std::move(mainQueue), std::move(displayQueue)));
}

Push2Device::Push2Device(MidiSystem& midi, Clock& clock, UsbHost& usb, std::shared_ptr<Queue> mainQueue,
                         std::shared_ptr<Queue> displayQueue)
    : midi(midi)
    , clock(clock)
    , usb(usb)
    , mainQueue(std::move(mainQueue))
    , displayQueue(std::move(displayQueue)) {}

Push2Device::~Push2Device() {
    // Without calling back into an owner that is going away.
    onConnectionChanged = nullptr;
    onDisplayStateChanged = nullptr;
    onEvent = nullptr;
    stop();
}

bool Push2Device::inRun(uint64_t run) {
    std::lock_guard guard(lifecycleLock);
    return running && runGeneration == run;
}

bool Push2Device::current(uint64_t g) {
    std::lock_guard guard(lifecycleLock);
    return running && generation == g;
}

void Push2Device::start() {
    if (client) return;
    uint64_t run;
    {
        std::lock_guard guard(lifecycleLock);
        running = true;
        ++generation;
        run = ++runGeneration;
    }
    std::weak_ptr<Push2Device> weak = weak_from_this();
    auto notify = [weak, queue = mainQueue, run] {
        queue->async([weak, run] {
            auto self = weak.lock();
            if (self && self->inRun(run)) self->refreshEndpoints();
        });
    };
    if (midi.clientCreate("Tandem Push 2", notify, &client) != midiNoError) {
        client = 0;
        // Without a client there is nothing to refresh; the device stays disconnected.
        std::lock_guard guard(lifecycleLock);
        running = false;
        return;
    }
    // Ahead of any frame on the same serial queue; stop takes it back.
    displayQueue->async([host = &usb] { push2_display_use(host); });
    const double scale = clock.hostTimeScale();
    auto receive = [weak, queue = mainQueue, run, scale](const MidiEventList& list, void*) {
        auto messages = convert(list, scale);
        if (messages.empty()) return;
        queue->async([weak, run, messages = std::move(messages)]() mutable {
            if (auto self = weak.lock()) self->received(run, std::move(messages));
        });
    };
    midi.inputPortCreateWithProtocol(client, "Tandem Push 2 In", MidiProtocol::midi1_0, receive, &inPort);
    midi.outputPortCreate(client, "Tandem Push 2 Out", &outPort);
    refreshEndpoints();
    watch = mainQueue->timer(1.0, 1.0, [weak, run] {
        auto self = weak.lock();
        if (self && self->inRun(run)) self->refreshEndpoints();
    });
}

std::vector<Push2Device::Incoming> Push2Device::convert(const MidiEventList& list, double hostTimeScale) {
    std::vector<Incoming> messages;
    for (const MidiEventPacket& packet : list) {
        std::optional<double> time;
        if (packet.timeStamp) time = double(packet.timeStamp) * hostTimeScale;
        const auto& words = packet.words;
        for (size_t i = 0; i < words.size();) {
            const uint32_t word = words[i];
            const size_t count = umpWordCount(word);
            if (i + count > words.size()) break;
            const uint32_t type = word >> 28;
            if (type == 2 && ((word >> 16) & 0xF0) >= 0x80 && ((word >> 16) & 0xF0) <= 0xE0) {
                // Only channel voice statuses: anything else (an F0 above all) would pass as the start
                // of a System Exclusive block and swallow every event after it.
                uint8_t status = uint8_t(word >> 16), d1 = uint8_t(word >> 8) & 0x7F,
                        d2 = uint8_t(word) & 0x7F;
                uint8_t kind = status & 0xF0;
                if (kind == 0xC0 || kind == 0xD0) {
                    messages.push_back({{status, d1}, time, packet.timeStamp});
                } else {
                    messages.push_back({{status, d1, d2}, time, packet.timeStamp});
                }
            } else if (type == 3) {
                const uint32_t second = words[i + 1];
                const uint32_t form = (word >> 20) & 0xF;
                const uint32_t length = std::min<uint32_t>(6, (word >> 16) & 0xF);
                const uint8_t data[6] = {uint8_t((word >> 8) & 0x7F),    uint8_t(word & 0x7F),
                                         uint8_t((second >> 24) & 0x7F), uint8_t((second >> 16) & 0x7F),
                                         uint8_t((second >> 8) & 0x7F),  uint8_t(second & 0x7F)};
                std::vector<uint8_t> bytes;
                if (form == 0 || form == 1) bytes.push_back(0xF0);
                bytes.insert(bytes.end(), data, data + length);
                if (form == 0 || form == 3) bytes.push_back(0xF7);
                messages.push_back({std::move(bytes), time, packet.timeStamp});
            }
            i += count;
        }
    }
    return messages;
}

void Push2Device::refreshEndpoints() {
    {
        std::lock_guard guard(lifecycleLock);
        if (!running) return;
    }
    if (!client) return;
    auto find = [&](size_t count, auto at) -> MidiEndpointRef {
        for (size_t i = 0; i < count; ++i) {
            MidiEndpointRef endpoint = at(i);
            std::string name;
            if (midi.stringProperty(endpoint, MidiProperty::displayName, &name) == midiNoError &&
                isUserPort(name)) {
                return endpoint;
            }
        }
        return 0;
    };
    MidiEndpointRef foundSource = find(midi.numberOfSources(), [&](size_t i) { return midi.source(i); });
    MidiEndpointRef foundDestination =
        find(midi.numberOfDestinations(), [&](size_t i) { return midi.destination(i); });
    if (foundSource && foundDestination && foundSource == source && foundDestination == destination) return;

    uint64_t g;
    {
        std::lock_guard guard(lifecycleLock);
        g = ++generation;
    }
    paletteWaiting.clear();
    touchStripWaiting.reset();
    midiModeWaiting.reset();
    sending = false;
    // A System Exclusive message cut off by the change must not swallow what comes next.
    sysexBuffer.clear();
    inSysex = false;
    if (source) midi.portDisconnectSource(inPort, source);
    source = foundSource;
    destination = foundDestination;
    if (source) midi.portConnectSource(inPort, source, nullptr);
    const bool wasConnected = isConnected;
    const bool nowConnected = source && destination;
    padColors.fill(std::nullopt);
    buttonValues.clear();

    isConnected = nowConnected;
    if (nowConnected) {
        send(Push2Protocol::setMidiMode(true));
        ActivityLog::write("push 2 · connected, user mode");
        std::weak_ptr<Push2Device> weak = weak_from_this();
        midiModeStep(g, [weak, g] {
            auto self = weak.lock();
            if (!self) return;
            self->touchStripStep(g, [weak, g] {
                if (auto self = weak.lock()) self->paletteStep(g);
            });
        });
    } else {
        if (wasConnected) ActivityLog::write("push 2 · disconnected");
        displayQueue->async([weak = weak_from_this(), g] {
            auto self = weak.lock();
            if (self && self->current(g)) push2_display_close();
        });
        setDisplayState("DISPLAY: NOT OPEN");
    }
    if (onConnectionChanged) onConnectionChanged(isConnected);
}

void Push2Device::midiModeStep(uint64_t g, Continuation then) {
    if (!current(g) || !isConnected) return;
    midiModeWaiting = std::pair{g, then};
    mainQueue->after(replyWait, [weak = weak_from_this(), g, then] {
        auto self = weak.lock();
        if (!self || !self->midiModeWaiting || self->midiModeWaiting->first != g) return;
        self->midiModeWaiting.reset(); // the answer was lost: go on regardless
        then();
    });
}

void Push2Device::touchStripStep(uint64_t g, Continuation then) {
    if (!current(g) || !isConnected) return;
    if (originalTouchStripConfiguration) {
        send(Push2Protocol::setTouchStripConfiguration(Push2Protocol::touchStripMode));
        then();
        return;
    }
    std::weak_ptr<Push2Device> weak = weak_from_this();
    touchStripWaiting =
        std::pair{g, Continuation([weak, then] {
                      auto self = weak.lock();
                      if (!self) return;
                      self->send(Push2Protocol::setTouchStripConfiguration(Push2Protocol::touchStripMode));
                      then();
                  })};
    send(Push2Protocol::getTouchStripConfiguration());
    mainQueue->after(replyWait, [weak, g, then] {
        auto self = weak.lock();
        if (!self || !self->touchStripWaiting || self->touchStripWaiting->first != g) return;
        // No answer: the strip is left as it was, since there is nothing to put back later.
        self->touchStripWaiting.reset();
        then();
    });
}

void Push2Device::paletteStep(uint64_t g) {
    if (!current(g) || !isConnected) return;
    auto work = std::make_shared<std::vector<uint8_t>>();
    for (Push2Color color : Push2Palette::allCases()) {
        uint8_t index = static_cast<uint8_t>(color);
        if (!originalPalette.count(index)) work->push_back(index);
    }
    paletteNext(g, work);
}

void Push2Device::paletteNext(uint64_t g, std::shared_ptr<std::vector<uint8_t>> work) {
    if (work->empty()) {
        paletteFinish(g);
        return;
    }
    const uint8_t index = work->front();
    work->erase(work->begin());
    auto done = std::make_shared<bool>(false);
    std::weak_ptr<Push2Device> weak = weak_from_this();
    paletteWaiting[index] = {g, [weak, g, work, done] {
                                 if (*done) return;
                                 *done = true;
                                 if (auto self = weak.lock()) self->paletteNext(g, work);
                             }};
    send(Push2Protocol::getPaletteEntry(index));
    mainQueue->after(replyWait, [weak, g, index, work, done] {
        auto self = weak.lock();
        if (!self || !self->current(g) || *done) return;
        *done = true;
        if (auto waiting = self->paletteWaiting.find(index);
            waiting != self->paletteWaiting.end() && waiting->second.first == g) {
            self->paletteWaiting.erase(waiting);
        }
        self->paletteNext(g, work);
    });
}

void Push2Device::paletteFinish(uint64_t g) {
    if (!current(g) || !isConnected) return;
    for (Push2Color color : Push2Palette::allCases()) {
        uint8_t index = static_cast<uint8_t>(color);
        if (!originalPalette.count(index)) continue; // never overwrite what could not be put back
        Push2RGB rgb = Push2Palette::rgb(color);
        send(Push2Protocol::setPalette(index, rgb.r, rgb.g, rgb.b, 0));
    }
    if (!originalPalette.empty()) send(Push2Protocol::reapplyPalette());
}

void Push2Device::received(uint64_t run, std::vector<Incoming> messages) {
    for (Incoming& message : messages) {
        // An event handler may stop the device; the rest of the batch then belongs to no one.
        if (!inRun(run)) return;
        currentEventTime = message.time ? *message.time : clock.uptime();
        currentEventHostTime = message.host;
        for (uint8_t byte : message.bytes) {
            if (byte == 0xF0) {
                sysexBuffer.assign(1, 0xF0);
                inSysex = true;
                continue;
            }
            if (!inSysex) continue;
            sysexBuffer.push_back(byte);
            if (byte == 0xF7) {
                inSysex = false;
                handleSysEx(sysexBuffer);
            }
        }
        if (message.bytes.empty() || message.bytes[0] == 0xF0 || inSysex) continue;
        if (auto event = Push2Protocol::event(message.bytes)) {
            if (onEvent) onEvent(*event);
        }
    }
}

void Push2Device::handleSysEx(const std::vector<uint8_t>& message) {
    {
        std::lock_guard guard(lifecycleLock);
        if (!running) return;
    }
    if (!isConnected) return;
    uint64_t g;
    {
        std::lock_guard guard(lifecycleLock);
        g = generation;
    }
    if (auto entry = Push2Protocol::paletteReply(message)) {
        originalPalette.try_emplace(entry->index, entry->color); // the first value read stays
        if (auto waiting = paletteWaiting.find(entry->index);
            waiting != paletteWaiting.end() && waiting->second.first == g) {
            Continuation callback = std::move(waiting->second.second);
            paletteWaiting.erase(waiting);
            callback();
        }
        return;
    }
    if (Push2Protocol::midiModeReply(message)) {
        if (midiModeWaiting && midiModeWaiting->first == g) {
            Continuation callback = std::move(midiModeWaiting->second);
            midiModeWaiting.reset();
            callback();
        }
        return;
    }
    if (auto configuration = Push2Protocol::touchStripConfigurationReply(message)) {
        if (!originalTouchStripConfiguration) originalTouchStripConfiguration = configuration;
        if (touchStripWaiting && touchStripWaiting->first == g) {
            Continuation callback = std::move(touchStripWaiting->second);
            touchStripWaiting.reset();
            callback();
        }
    }
}

void Push2Device::send(std::span<const uint8_t> bytes) {
    if (!outPort || !destination || bytes.empty()) return;
    std::array<uint8_t, 1024> buffer{};
    MidiPacketListBuilder list(buffer);
    if (list.add(0, bytes)) midi.send(outPort, destination, list.list());
}

void Push2Device::setPad(int index, uint8_t color) {
    if (!isConnected || index < 0 || index >= 64 || padColors[index] == color) return;
    padColors[index] = color;
    const uint8_t message[] = {0x90, uint8_t(36 + index), uint8_t(color & 0x7F)};
    send(message);
}

void Push2Device::setButton(int cc, uint8_t value) {
    if (!isConnected || cc < 0 || cc > 127) return;
    if (auto found = buttonValues.find(cc); found != buttonValues.end() && found->second == value) return;
    buttonValues[cc] = value;
    const uint8_t message[] = {0xB0, uint8_t(cc), uint8_t(value & 0x7F)};
    send(message);
}

void Push2Device::stop() {
    {
        std::lock_guard guard(lifecycleLock);
        if (!client && !running) return;
        running = false;
        ++generation;
        ++runGeneration;
    }
    watch.reset();
    paletteWaiting.clear();
    touchStripWaiting.reset();
    midiModeWaiting.reset();
    if (isConnected) {
        for (int pad = 0; pad < 64; ++pad) {
            const uint8_t dark[] = {0x90, uint8_t(36 + pad), 0x00};
            send(dark);
        }
        for (const auto& [cc, _] : buttonValues) {
            const uint8_t off[] = {0xB0, uint8_t(cc), 0x00};
            send(off);
        }
        for (const auto& [index, rgb] : originalPalette)
            send(Push2Protocol::setPalette(index, rgb.r, rgb.g, rgb.b, rgb.w));
        if (!originalPalette.empty()) send(Push2Protocol::reapplyPalette());
        if (originalTouchStripConfiguration) {
            send(Push2Protocol::setTouchStripConfiguration(*originalTouchStripConfiguration & 0x7F));
        }
        send(Push2Protocol::setMidiMode(false));
    }
    // Closes the display and lets go of the host, so the owner may destroy the host after this.
    displayQueue->sync([] { push2_display_use(nullptr); });
    if (source && inPort) midi.portDisconnectSource(inPort, source);
    if (client) midi.clientDispose(client);
    client = inPort = outPort = source = destination = 0;
    isConnected = false;
    padColors.fill(std::nullopt);
    buttonValues.clear();
    sending = false;
    sysexBuffer.clear();
    inSysex = false;
    setDisplayState("DISPLAY: NOT OPEN");
}

void Push2Device::setDisplayState(const std::string& text) {
    if (text == state) return;
    state = text;
    ActivityLog::write("push 2 · " + Text::lowercase(text));
    if (onDisplayStateChanged) onDisplayStateChanged(text);
}

bool Push2Device::isRunning() {
    std::lock_guard guard(lifecycleLock);
    return running;
}

void Push2Device::submit(std::vector<uint16_t> frame) {
    if (frame.size() != framePixels) return;
    lastFrame = std::move(frame);
    ++revision;
    pump();
}

void Push2Device::pump() {
    uint64_t g;
    {
        std::lock_guard guard(lifecycleLock);
        if (!running) return;
        g = generation;
    }
    if (!isConnected || sending || !lastFrame) return;
    const uint64_t startedRevision = revision;
    sending = true;
    const double now = clock.uptime();
    lastSentAt = now;
    const bool reopen = now - lastOpenAttempt > reopenInterval;
    if (reopen) lastOpenAttempt = now;

    displayQueue->async([weak = weak_from_this(), g, reopen, frame = *lastFrame, startedRevision] {
        auto self = weak.lock();
        if (!self || !self->current(g)) return;
        std::optional<std::string> text;
        if (!push2_display_is_open() && reopen) text = displayText(push2_display_open());
        // A frame that went out means the display works, also after a stall that was cleared.
        if (push2_display_is_open())
            text = push2_display_send(frame.data()) == 0 ? "DISPLAY: ON" : "DISPLAY: LOST, RETRYING";
        self->mainQueue->async([weak, g, text, startedRevision] {
            auto self = weak.lock();
            if (!self || !self->current(g)) return;
            self->sending = false;
            if (text) self->setDisplayState(*text);
            if ((!text || *text == "DISPLAY: ON") && self->revision != startedRevision) self->pump();
        });
    });
}

} // namespace tandem
