#include "platform/sim/SimPush2.h"

#include "platform/MidiUmp.h"

#include <algorithm>

namespace tandem {

namespace {

constexpr uint8_t header[] = {0xF0, 0x00, 0x21, 0x1D, 0x01, 0x01};

} // namespace

SimPush2::Color SimPush2::factoryColor(uint8_t index) {
    return {uint8_t(index * 7 + 3), uint8_t(index * 13 + 200), uint8_t(index * 29),
            uint8_t(index % 2 ? 130 : 5)};
}

SimPush2::SimPush2(SimMidiSystem& midi, bool plugIn)
    : midi(midi) {
    pads.fill(-1);
    if (plugIn) plug();
}

SimPush2::~SimPush2() {
    unplug();
}

void SimPush2::plug() {
    if (isPlugged) return;
    SimMidiSystem::EntityPlan live{"Live Port",
                                   {{"Live Port", "Ableton Push 2 Live Port"}},
                                   {{"Live Port", "Ableton Push 2 Live Port"}}};
    SimMidiSystem::EntityPlan userPort{"User Port",
                                       {{"User Port", "Ableton Push 2 User Port"}},
                                       {{"User Port", "Ableton Push 2 User Port"}}};
    device = midi.addDevice({"Ableton Push 2", {live, userPort}, "Ableton AG", "Ableton Push 2"});
    userSource = device.sources[1][0];
    userDestination = device.destinations[1][0];
    midi.setReceiver(userDestination, [this](const MidiPacketList& list) { receive(list); });
    {
        // Unplugging loses what the Push was told; its palette memory too.
        std::lock_guard guard(lock);
        user = false;
        colors.clear();
        strip = 0x68;
        pads.fill(-1);
        buttons.clear();
    }
    isPlugged = true;
}

void SimPush2::unplug() {
    if (!isPlugged) return;
    midi.removeDevice(device.ref);
    device = {};
    userSource = userDestination = 0;
    isPlugged = false;
}

void SimPush2::setAnswersPalette(bool answers) {
    std::lock_guard guard(lock);
    answersPalette = answers;
}

void SimPush2::setAnswersTouchStrip(bool answers) {
    std::lock_guard guard(lock);
    answersTouchStrip = answers;
}

void SimPush2::setAnswersMidiMode(bool answers) {
    std::lock_guard guard(lock);
    answersMidiMode = answers;
}

void SimPush2::sendWord(uint32_t word) {
    sendWords({word});
}

void SimPush2::sendWords(std::vector<uint32_t> words, uint64_t timeStamp) {
    if (!isPlugged) return;
    midi.emitEvents(userSource, {{timeStamp, std::move(words)}});
}

void SimPush2::pressPad(int index, uint8_t velocity) {
    sendWord(Ump::channelVoice(0x90, uint8_t(36 + index), velocity));
}
void SimPush2::releasePad(int index) {
    sendWord(Ump::channelVoice(0x80, uint8_t(36 + index), 0));
}
void SimPush2::padPressure(int index, uint8_t value) {
    sendWord(Ump::channelVoice(0xA0, uint8_t(36 + index), value));
}

void SimPush2::turnEncoder(int index, int delta) {
    uint8_t cc = index < 8 ? uint8_t(71 + index) : index == 8 ? 14 : index == 9 ? 15 : 79;
    sendWord(Ump::channelVoice(0xB0, cc, uint8_t(delta & 0x7F)));
}

void SimPush2::touchEncoder(int index, bool down) {
    uint8_t note = index < 8 ? uint8_t(index) : uint8_t(18 - index);
    sendWord(Ump::channelVoice(down ? 0x90 : 0x80, note, down ? 127 : 0));
}

void SimPush2::button(int cc, bool down) {
    sendWord(Ump::channelVoice(0xB0, uint8_t(cc), down ? 127 : 0));
}
void SimPush2::touchStrip(bool down) {
    sendWord(Ump::channelVoice(down ? 0x90 : 0x80, 12, down ? 127 : 0));
}
void SimPush2::moveStrip(uint16_t value) {
    sendWord(Ump::channelVoice(0xE0, uint8_t(value & 0x7F), uint8_t(value >> 7)));
}
void SimPush2::channelPressure(uint8_t value) {
    sendWord(Ump::channelVoice(0xD0, value));
}

void SimPush2::reply(std::vector<uint8_t> body) {
    if (!isPlugged) return;
    midi.emitEvents(userSource, {{1, Ump::systemExclusive(body)}});
}

void SimPush2::receive(const MidiPacketList& list) {
    std::vector<std::vector<uint8_t>> replies;
    {
        std::lock_guard guard(lock);
        list.forEach([&](const MidiPacketList::Packet& packet) {
            std::vector<uint8_t> bytes(packet.data.begin(), packet.data.end());
            log.push_back(bytes);
            if (bytes.size() == 3 && (bytes[0] & 0xF0) == 0x90 && bytes[1] >= 36 && bytes[1] <= 99) {
                pads[bytes[1] - 36] = bytes[2];
                return;
            }
            if (bytes.size() == 3 && (bytes[0] & 0xF0) == 0xB0) {
                buttons[bytes[1]] = bytes[2];
                return;
            }
            if (bytes.size() < 8 || !std::equal(std::begin(header), std::end(header), bytes.begin()) ||
                bytes.back() != 0xF7) {
                return;
            }
            const uint8_t command = bytes[6];
            auto reply = [&](std::vector<uint8_t> arguments) {
                std::vector<uint8_t> body(std::begin(header) + 1, std::end(header));
                body.push_back(command);
                body.insert(body.end(), arguments.begin(), arguments.end());
                replies.push_back(std::move(body));
            };
            if (command == 0x0A && bytes.size() == 9) {
                user = bytes[7] == 1;
                if (answersMidiMode) reply({bytes[7]});
            }
            if (command == 0x17 && bytes.size() == 9) strip = bytes[7];
            if (command == 0x18 && bytes.size() == 8 && answersTouchStrip) reply({strip});
            if (command == 0x05) ++reapplied;
            if (command == 0x03 && bytes.size() == 17) {
                auto value = [&](size_t at) { return uint8_t(bytes[at] | bytes[at + 1] << 7); };
                colors[bytes[7]] = {value(8), value(10), value(12), value(14)};
            }
            if (command == 0x04 && bytes.size() == 9 && answersPalette) {
                uint8_t index = bytes[7];
                auto found = colors.find(index);
                Color color = found != colors.end() ? found->second : factoryColor(index);
                reply({index, uint8_t(color.r & 0x7F), uint8_t(color.r >> 7), uint8_t(color.g & 0x7F),
                       uint8_t(color.g >> 7), uint8_t(color.b & 0x7F), uint8_t(color.b >> 7),
                       uint8_t(color.w & 0x7F), uint8_t(color.w >> 7)});
            }
        });
    }
    for (auto& body : replies)
        reply(std::move(body));
}

bool SimPush2::userMode() const {
    std::lock_guard guard(lock);
    return user;
}

SimPush2::Color SimPush2::palette(uint8_t index) const {
    std::lock_guard guard(lock);
    auto found = colors.find(index);
    return found != colors.end() ? found->second : factoryColor(index);
}

int SimPush2::reapplyCount() const {
    std::lock_guard guard(lock);
    return reapplied;
}

uint8_t SimPush2::touchStripConfiguration() const {
    std::lock_guard guard(lock);
    return strip;
}

int SimPush2::padLight(int index) const {
    std::lock_guard guard(lock);
    return index >= 0 && index < 64 ? pads[index] : -1;
}

int SimPush2::buttonLight(int cc) const {
    std::lock_guard guard(lock);
    auto found = buttons.find(cc);
    return found == buttons.end() ? -1 : found->second;
}

std::vector<std::vector<uint8_t>> SimPush2::received() const {
    std::lock_guard guard(lock);
    return log;
}

void SimPush2::clearReceived() {
    std::lock_guard guard(lock);
    log.clear();
}

} // namespace tandem
