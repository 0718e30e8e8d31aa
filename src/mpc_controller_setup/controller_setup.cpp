#include "mpc_controller_setup/controller_setup.h"

#include "base/Clock.h"
#include "platform/Midi.h"

#include <array>
#include <cstring>
#include <utility>

uint32_t controller_client = 0;
uint32_t controller_port = 0;

namespace {

using namespace tandem;

MidiSystem* controller_midi = nullptr;
Clock* controller_clock = nullptr;
std::FILE* controller_out = stdout;
std::FILE* controller_err = stderr;

// The object's name as CoreMIDI hands it over: UTF-8 in a 256-byte buffer.
bool name_is(MidiObjectRef object, const char* expected) {
    std::string name;
    if (controller_midi->stringProperty(object, MidiProperty::name, &name) != midiNoError) return false;
    char buffer[256] = {};
    std::strncpy(buffer, name.c_str(), sizeof buffer - 1);
    return std::strcmp(buffer, expected) == 0;
}

int find_destinations(MidiEndpointRef* public_destination, MidiEndpointRef* private_destination) {
    *public_destination = 0;
    *private_destination = 0;
    if (controller_midi) {
        for (size_t d = 0, devices = controller_midi->numberOfDevices(); d < devices; ++d) {
            MidiDeviceRef device = controller_midi->device(d);
            if (!name_is(device, "MPC Touch")) continue;
            for (size_t e = 0, entities = controller_midi->numberOfEntities(device); e < entities; ++e) {
                MidiEntityRef entity = controller_midi->entity(device, e);
                if (controller_midi->numberOfDestinations(entity) == 0) continue;
                if (name_is(entity, "Public")) *public_destination = controller_midi->destination(entity, 0);
                if (name_is(entity, "Private"))
                    *private_destination = controller_midi->destination(entity, 0);
            }
        }
    }
    if (*public_destination && *private_destination) return 0;
    std::fputs("MPC Touch Public/Private destination unavailable\n", controller_err);
    std::fflush(controller_err);
    return 1;
}

int send_bytes(MidiPortRef port, MidiEndpointRef destination, const char* label, const uint8_t* bytes,
               size_t count) {
    std::array<uint8_t, 1024> buffer{};
    MidiPacketListBuilder list(buffer);
    bool added = list.add(0, std::span<const uint8_t>(bytes, count));
    MidiStatus status = added ? controller_midi->send(port, destination, list.list()) : midiUnknownError;
    std::fprintf(controller_out, "out=\"%s\" status=%d bytes=", label, int(status));
    for (size_t i = 0; i < count; ++i)
        std::fprintf(controller_out, "%02x%s", bytes[i], i + 1 < count ? " " : "\n");
    if (count == 0) std::fputc('\n', controller_out);
    std::fflush(controller_out);
    // The MPC drops messages that arrive back to back.
    if (controller_clock) controller_clock->sleep(0.020);
    return (!added || status != midiNoError) ? 1 : 0;
}

int ensure_port() {
    if (controller_client && controller_port) return 0;
    if (!controller_midi) return 1;
    if (!controller_client && controller_midi->clientCreate("MPC Touch controller session", nullptr,
                                                            &controller_client) != midiNoError) {
        controller_client = 0;
        return 1;
    }
    if (controller_midi->outputPortCreate(controller_client, "MPC Touch controller output",
                                          &controller_port) != midiNoError) {
        controller_shutdown();
        return 1;
    }
    return 0;
}

int controller_send(unsigned pad_bank, unsigned qlink_bank, bool initialize) {
    if (pad_bank > 3 || qlink_bank > 3) return 1;
    MidiEndpointRef public_destination = 0, private_destination = 0;
    if (find_destinations(&public_destination, &private_destination) != 0) return 1;
    if (ensure_port() != 0) return 1;

    int errors = 0;
    if (initialize) {
        static const uint8_t sysex1[] = {0xF0, 0x47, 0x7F, 0x37, 0x62, 0x00, 0x01, 0x65, 0xF7};
        static const uint8_t sysex2[] = {0xF0, 0x47, 0x00, 0x37, 0x64, 0x00, 0x01, 0x01, 0xF7};
        static const uint8_t sysex3[] = {0xF0, 0x47, 0x00, 0x37, 0x64, 0x00, 0x03, 0x00, 0x01, 0x01, 0xF7};
        errors |= send_bytes(controller_port, public_destination, "Public", sysex1, sizeof sysex1);
        errors |= send_bytes(controller_port, public_destination, "Public", sysex2, sizeof sysex2);
        errors |= send_bytes(controller_port, public_destination, "Public", sysex3, sizeof sysex3);
        static const uint8_t initial[][2] = {{49, 1}, {52, 2}, {67, 2}, {122, 1}, {54, 1}, {82, 2},
                                             {81, 1}, {73, 1}, {80, 1}, {83, 1},  {53, 1}};
        for (const auto& control : initial) {
            const uint8_t message[] = {0xB0, control[0], control[1]};
            errors |= send_bytes(controller_port, public_destination, "Public", message, sizeof message);
        }
    }
    const std::pair<MidiEndpointRef, const char*> destinations[] = {{public_destination, "Public"},
                                                                    {private_destination, "Private"}};
    for (const auto& [destination, label] : destinations) {
        for (unsigned bank = 0; bank < 4; ++bank) {
            const uint8_t padLight[] = {0xB0, uint8_t(35 + bank), uint8_t(bank == pad_bank ? 3 : 0)};
            const uint8_t linkLight[] = {0xB0, uint8_t(90 + bank), uint8_t(bank == qlink_bank ? 2 : 0)};
            errors |= send_bytes(controller_port, destination, label, padLight, sizeof padLight);
            errors |= send_bytes(controller_port, destination, label, linkLight, sizeof linkLight);
        }
    }
    std::fprintf(controller_out, "initialization_complete send_errors=%d\n", errors);
    std::fflush(controller_out);
    return errors ? 1 : 0;
}

} // namespace

void controller_use(MidiSystem* midi, Clock* clock, std::FILE* out, std::FILE* err) {
    // A client and port made on this same MIDI system are disposed of; one made on another system
    // is forgotten, since that system may be gone.
    if (midi && midi == controller_midi) controller_shutdown();
    controller_midi = midi;
    controller_clock = clock;
    controller_out = out ? out : stdout;
    controller_err = err ? err : stderr;
    controller_client = 0;
    controller_port = 0;
}

int controller_initialize(unsigned pad_bank, unsigned qlink_bank) {
    return controller_send(pad_bank, qlink_bank, true);
}

int controller_refresh_banks(unsigned pad_bank, unsigned qlink_bank) {
    return controller_send(pad_bank, qlink_bank, false);
}

int controller_set_button_light(unsigned button, unsigned value) {
    if (button > 127 || value > 127 || !controller_port) return 1;
    MidiEndpointRef public_destination = 0, private_destination = 0;
    if (find_destinations(&public_destination, &private_destination) != 0) return 1;
    const uint8_t message[] = {0xB0, uint8_t(button), uint8_t(value)};
    return send_bytes(controller_port, public_destination, "Public", message, sizeof message);
}

void controller_shutdown(void) {
    if (controller_midi) {
        if (controller_port) controller_midi->portDispose(controller_port);
        if (controller_client) controller_midi->clientDispose(controller_client);
    }
    controller_port = 0;
    controller_client = 0;
}
