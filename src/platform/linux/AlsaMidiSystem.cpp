#include "platform/linux/AlsaMidiSystem.h"

#include "platform/MidiUmp.h"

#include <alsa/asoundlib.h>

#include <poll.h>

namespace tandem {

namespace {

using Kind = AlsaMidiSystem::Kind;

constexpr unsigned readable = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
constexpr unsigned writable = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;

MidiObjectRef makeRef(Kind kind, int client, int port = 0) {
    return uint32_t(kind) << 24 | uint32_t(client & 0xFF) << 8 | uint32_t(port & 0xFF);
}
Kind kindOf(MidiObjectRef ref) {
    return Kind(ref >> 24);
}
int clientOf(MidiObjectRef ref) {
    return int((ref >> 8) & 0xFF);
}
int portOf(MidiObjectRef ref) {
    return int(ref & 0xFF);
}

struct PortFacts {
    bool exists = false;
    unsigned capability = 0;
    std::string name;
};

PortFacts facts(snd_seq_t* seq, int client, int port) {
    PortFacts result;
    snd_seq_port_info_t* info;
    snd_seq_port_info_alloca(&info);
    if (snd_seq_get_any_port_info(seq, client, port, info) == 0) {
        result.exists = true;
        result.capability = snd_seq_port_info_get_capability(info);
        result.name = snd_seq_port_info_get_name(info);
    }
    return result;
}

std::string clientName(snd_seq_t* seq, int client) {
    snd_seq_client_info_t* info;
    snd_seq_client_info_alloca(&info);
    if (snd_seq_get_any_client_info(seq, client, info) != 0) return {};
    return snd_seq_client_info_get_name(info);
}

} // namespace

AlsaMidiSystem::AlsaMidiSystem() {
    if (snd_seq_open(&sequencer, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0) {
        sequencer = nullptr;
        return;
    }
    snd_seq_set_client_name(sequencer, "Tandem");
    self = snd_seq_client_id(sequencer);
    // The system announces clients and ports coming and going; those become set-up notices.
    announcePort =
        snd_seq_create_simple_port(sequencer, "Tandem announcements", writable | SND_SEQ_PORT_CAP_NO_EXPORT,
                                   SND_SEQ_PORT_TYPE_APPLICATION);
    if (announcePort >= 0)
        snd_seq_connect_from(sequencer, announcePort, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
    reader = std::thread([this] { readLoop(); });
}

AlsaMidiSystem::~AlsaMidiSystem() {
    stopping = true;
    if (reader.joinable()) reader.join();
    if (sequencer) snd_seq_close(sequencer);
}

MidiStatus AlsaMidiSystem::clientCreate(const std::string& name, NotifyHandler notify,
                                        MidiClientRef* client) {
    if (!sequencer) return midiUnknownError;
    std::lock_guard guard(lock);
    MidiClientRef ref = makeRef(Kind::client, 0, 0) | nextClient++;
    clients[ref] = Client{name, std::move(notify), {}};
    *client = ref;
    return midiNoError;
}

MidiStatus AlsaMidiSystem::clientDispose(MidiClientRef client) {
    std::vector<MidiObjectRef> owned;
    {
        std::lock_guard guard(lock);
        auto found = clients.find(client);
        if (found == clients.end()) return midiInvalidClient;
        owned = found->second.owned;
        clients.erase(found);
    }
    for (MidiObjectRef ref : owned) {
        if (kindOf(ref) == Kind::port) {
            portDispose(ref);
        } else {
            endpointDispose(ref);
        }
    }
    return midiNoError;
}

MidiStatus AlsaMidiSystem::createPort(MidiClientRef client, const std::string& name, unsigned capabilities,
                                      Port port, MidiObjectRef* ref) {
    if (!sequencer) return midiUnknownError;
    std::lock_guard guard(lock);
    auto owner = clients.find(client);
    if (owner == clients.end()) return midiInvalidClient;
    int alsaPort = snd_seq_create_simple_port(sequencer, name.c_str(), capabilities,
                                              SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (alsaPort < 0) return midiUnknownError;
    port.client = client;
    port.alsaPort = alsaPort;
    MidiObjectRef made = makeRef(port.kind, self, alsaPort);
    ports[made] = std::move(port);
    byAlsaPort[alsaPort] = made;
    owner->second.owned.push_back(made);
    *ref = made;
    return midiNoError;
}

MidiStatus AlsaMidiSystem::inputPortCreate(MidiClientRef client, const std::string& name, ReadHandler read,
                                           MidiPortRef* port) {
    Port made;
    made.input = true;
    made.read = std::move(read);
    // Not exported: only our own connections feed it.
    return createPort(client, name, SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT, std::move(made),
                      port);
}

MidiStatus AlsaMidiSystem::inputPortCreateWithProtocol(MidiClientRef client, const std::string& name,
                                                       MidiProtocol, EventReadHandler read,
                                                       MidiPortRef* port) {
    Port made;
    made.input = true;
    made.eventRead = std::move(read);
    return createPort(client, name, SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT, std::move(made),
                      port);
}

MidiStatus AlsaMidiSystem::outputPortCreate(MidiClientRef client, const std::string& name,
                                            MidiPortRef* port) {
    return createPort(client, name, SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_NO_EXPORT, Port{}, port);
}

MidiStatus AlsaMidiSystem::sourceCreate(MidiClientRef client, const std::string& name,
                                        MidiEndpointRef* source) {
    Port made;
    made.kind = Kind::source;
    return createPort(client, name, readable, std::move(made), source);
}

MidiStatus AlsaMidiSystem::destinationCreate(MidiClientRef client, const std::string& name, ReadHandler read,
                                             MidiEndpointRef* destination) {
    Port made;
    made.kind = Kind::destination;
    made.read = std::move(read);
    return createPort(client, name, writable, std::move(made), destination);
}

MidiStatus AlsaMidiSystem::portDispose(MidiPortRef port) {
    std::lock_guard guard(lock);
    auto found = ports.find(port);
    if (found == ports.end()) return midiInvalidPort;
    snd_seq_delete_simple_port(sequencer, found->second.alsaPort);
    byAlsaPort.erase(found->second.alsaPort);
    ports.erase(found);
    return midiNoError;
}

MidiStatus AlsaMidiSystem::endpointDispose(MidiEndpointRef endpoint) {
    if (kindOf(endpoint) != Kind::source && kindOf(endpoint) != Kind::destination) return midiUnknownEndpoint;
    {
        std::lock_guard guard(lock);
        if (!ports.count(endpoint))
            return clientOf(endpoint) == self ? midiUnknownEndpoint : midiNotPermitted;
    }
    return portDispose(endpoint);
}

MidiStatus AlsaMidiSystem::portConnectSource(MidiPortRef port, MidiEndpointRef source, void* connectionRef) {
    if (kindOf(source) != Kind::source) return midiUnknownEndpoint;
    std::lock_guard guard(lock);
    auto found = ports.find(port);
    if (found == ports.end() || !found->second.input) return midiInvalidPort;
    if (snd_seq_connect_from(sequencer, found->second.alsaPort, clientOf(source), portOf(source)) < 0) {
        return midiUnknownEndpoint;
    }
    found->second.connections[source] = connectionRef;
    return midiNoError;
}

MidiStatus AlsaMidiSystem::portDisconnectSource(MidiPortRef port, MidiEndpointRef source) {
    std::lock_guard guard(lock);
    auto found = ports.find(port);
    if (found == ports.end() || !found->second.input) return midiInvalidPort;
    if (!found->second.connections.erase(source)) return midiNoConnection;
    snd_seq_disconnect_from(sequencer, found->second.alsaPort, clientOf(source), portOf(source));
    return midiNoError;
}

MidiStatus AlsaMidiSystem::output(int ourPort, const Address* destination, const MidiPacketList& list) {
    snd_midi_event_t* encoder = nullptr;
    if (snd_midi_event_new(65536, &encoder) < 0) return midiUnknownError;
    MidiStatus result = midiNoError;
    list.forEach([&](const MidiPacketList::Packet& packet) {
        snd_midi_event_reset_encode(encoder);
        const uint8_t* at = packet.data.data();
        long left = long(packet.data.size());
        while (left > 0) {
            snd_seq_event_t event;
            snd_seq_ev_clear(&event);
            long used = snd_midi_event_encode(encoder, at, left, &event);
            if (used <= 0) break;
            at += used;
            left -= used;
            if (event.type == SND_SEQ_EVENT_NONE) continue; // the message is not complete yet
            snd_seq_ev_set_source(&event, ourPort);
            if (destination) {
                snd_seq_ev_set_dest(&event, destination->client, destination->port);
            } else {
                snd_seq_ev_set_subs(&event);
            }
            snd_seq_ev_set_direct(&event);
            if (snd_seq_event_output_direct(sequencer, &event) < 0) result = midiUnknownError;
        }
    });
    snd_midi_event_free(encoder);
    return result;
}

MidiStatus AlsaMidiSystem::received(MidiEndpointRef source, const MidiPacketList& list) {
    std::lock_guard guard(lock);
    auto found = ports.find(source);
    if (found == ports.end() || found->second.kind != Kind::source) return midiUnknownEndpoint;
    return output(found->second.alsaPort, nullptr, list);
}

MidiStatus AlsaMidiSystem::send(MidiPortRef port, MidiEndpointRef destination, const MidiPacketList& list) {
    if (kindOf(destination) != Kind::destination) return midiUnknownEndpoint;
    std::lock_guard guard(lock);
    auto found = ports.find(port);
    if (found == ports.end() || found->second.input || found->second.kind != Kind::port)
        return midiInvalidPort;
    if (!facts(sequencer, clientOf(destination), portOf(destination)).exists) return midiUnknownEndpoint;
    Address address{clientOf(destination), portOf(destination)};
    return output(found->second.alsaPort, &address, list);
}

std::vector<int> AlsaMidiSystem::remoteClients() {
    std::vector<int> found;
    if (!sequencer) return found;
    snd_seq_client_info_t* info;
    snd_seq_client_info_alloca(&info);
    snd_seq_client_info_set_client(info, -1);
    while (snd_seq_query_next_client(sequencer, info) >= 0) {
        int client = snd_seq_client_info_get_client(info);
        if (client != SND_SEQ_CLIENT_SYSTEM && client != self) found.push_back(client);
    }
    return found;
}

// Every exported port, ours included (our virtual endpoints are in the system's lists too).
std::vector<AlsaMidiSystem::Address> AlsaMidiSystem::remotePorts(unsigned capabilities) {
    std::vector<Address> found;
    if (!sequencer) return found;
    std::vector<int> clientsToScan = remoteClients();
    clientsToScan.push_back(self);
    snd_seq_port_info_t* info;
    snd_seq_port_info_alloca(&info);
    for (int client : clientsToScan) {
        snd_seq_port_info_set_client(info, client);
        snd_seq_port_info_set_port(info, -1);
        while (snd_seq_query_next_port(sequencer, info) >= 0) {
            unsigned capability = snd_seq_port_info_get_capability(info);
            if ((capability & capabilities) == capabilities && !(capability & SND_SEQ_PORT_CAP_NO_EXPORT)) {
                found.push_back({client, snd_seq_port_info_get_port(info)});
            }
        }
    }
    return found;
}

size_t AlsaMidiSystem::numberOfSources() {
    std::lock_guard guard(lock);
    return remotePorts(readable).size();
}

MidiEndpointRef AlsaMidiSystem::source(size_t index) {
    std::lock_guard guard(lock);
    auto list = remotePorts(readable);
    return index < list.size() ? makeRef(Kind::source, list[index].client, list[index].port) : 0;
}

size_t AlsaMidiSystem::numberOfDestinations() {
    std::lock_guard guard(lock);
    return remotePorts(writable).size();
}

MidiEndpointRef AlsaMidiSystem::destination(size_t index) {
    std::lock_guard guard(lock);
    auto list = remotePorts(writable);
    return index < list.size() ? makeRef(Kind::destination, list[index].client, list[index].port) : 0;
}

size_t AlsaMidiSystem::numberOfDevices() {
    std::lock_guard guard(lock);
    return remoteClients().size();
}

MidiDeviceRef AlsaMidiSystem::device(size_t index) {
    std::lock_guard guard(lock);
    auto list = remoteClients();
    return index < list.size() ? makeRef(Kind::device, list[index]) : 0;
}

size_t AlsaMidiSystem::numberOfEntities(MidiDeviceRef device) {
    std::lock_guard guard(lock);
    if (kindOf(device) != Kind::device || !sequencer) return 0;
    size_t count = 0;
    for (const Address& address : remotePorts(0))
        count += address.client == clientOf(device);
    return count;
}

MidiEntityRef AlsaMidiSystem::entity(MidiDeviceRef device, size_t index) {
    std::lock_guard guard(lock);
    if (kindOf(device) != Kind::device) return 0;
    for (const Address& address : remotePorts(0)) {
        if (address.client == clientOf(device) && index-- == 0)
            return makeRef(Kind::entity, address.client, address.port);
    }
    return 0;
}

size_t AlsaMidiSystem::numberOfSources(MidiEntityRef entity) {
    std::lock_guard guard(lock);
    if (kindOf(entity) != Kind::entity || !sequencer) return 0;
    return (facts(sequencer, clientOf(entity), portOf(entity)).capability & readable) == readable ? 1 : 0;
}

MidiEndpointRef AlsaMidiSystem::source(MidiEntityRef entity, size_t index) {
    return index == 0 && numberOfSources(entity) ? makeRef(Kind::source, clientOf(entity), portOf(entity))
                                                 : 0;
}

size_t AlsaMidiSystem::numberOfDestinations(MidiEntityRef entity) {
    std::lock_guard guard(lock);
    if (kindOf(entity) != Kind::entity || !sequencer) return 0;
    return (facts(sequencer, clientOf(entity), portOf(entity)).capability & writable) == writable ? 1 : 0;
}

MidiEndpointRef AlsaMidiSystem::destination(MidiEntityRef entity, size_t index) {
    return index == 0 && numberOfDestinations(entity)
               ? makeRef(Kind::destination, clientOf(entity), portOf(entity))
               : 0;
}

MidiStatus AlsaMidiSystem::endpointEntity(MidiEndpointRef endpoint, MidiEntityRef* entity) {
    if (kindOf(endpoint) != Kind::source && kindOf(endpoint) != Kind::destination) return midiUnknownEndpoint;
    std::lock_guard guard(lock);
    if (!sequencer || !facts(sequencer, clientOf(endpoint), portOf(endpoint)).exists)
        return midiUnknownEndpoint;
    // Our own endpoints are virtual: they belong to no entity.
    *entity = clientOf(endpoint) == self ? 0 : makeRef(Kind::entity, clientOf(endpoint), portOf(endpoint));
    return midiNoError;
}

MidiStatus AlsaMidiSystem::entityDevice(MidiEntityRef entity, MidiDeviceRef* device) {
    if (kindOf(entity) != Kind::entity) return midiObjectNotFound;
    *device = makeRef(Kind::device, clientOf(entity));
    return midiNoError;
}

MidiStatus AlsaMidiSystem::stringProperty(MidiObjectRef object, MidiProperty property, std::string* value) {
    std::lock_guard guard(lock);
    if (!sequencer) return midiObjectNotFound;
    Kind kind = kindOf(object);
    if (kind == Kind::client) {
        auto found = clients.find(object);
        if (found == clients.end()) return midiObjectNotFound;
        if (property != MidiProperty::name) return midiUnknownProperty;
        *value = found->second.name;
        return midiNoError;
    }
    if (property != MidiProperty::name && property != MidiProperty::displayName) return midiUnknownProperty;
    std::string owner = clientName(sequencer, clientOf(object));
    if (kind == Kind::device) {
        if (owner.empty()) return midiObjectNotFound;
        *value = owner;
        return midiNoError;
    }
    PortFacts port = facts(sequencer, clientOf(object), portOf(object));
    if (!port.exists) return midiObjectNotFound;
    bool prefixed =
        property == MidiProperty::displayName && clientOf(object) != self && port.name.rfind(owner, 0) != 0;
    *value = prefixed ? owner + " " + port.name : port.name;
    return midiNoError;
}

MidiStatus AlsaMidiSystem::integerProperty(MidiObjectRef object, MidiProperty property, int32_t* value) {
    std::lock_guard guard(lock);
    if (!sequencer) return midiObjectNotFound;
    switch (property) {
    case MidiProperty::offline:
        *value = 0; // a client that is gone is simply not listed
        return midiNoError;
    case MidiProperty::uniqueID:
        *value = int32_t(object & 0xFFFFFF);
        return midiNoError;
    case MidiProperty::isPrivate: {
        if (kindOf(object) == Kind::device) {
            *value = 0;
            return midiNoError;
        }
        PortFacts port = facts(sequencer, clientOf(object), portOf(object));
        if (!port.exists) return midiObjectNotFound;
        *value = (port.capability & SND_SEQ_PORT_CAP_NO_EXPORT) ? 1 : 0;
        return midiNoError;
    }
    default:
        return midiWrongPropertyType;
    }
}

void AlsaMidiSystem::readLoop() {
    snd_midi_event_t* decoder = nullptr;
    if (snd_midi_event_new(65536, &decoder) < 0) return;
    snd_midi_event_no_status(decoder, 1); // every message with its own status byte
    std::vector<uint8_t> bytes(65536);
    while (!stopping) {
        int count = snd_seq_poll_descriptors_count(sequencer, POLLIN);
        std::vector<pollfd> descriptors(size_t(std::max(count, 1)));
        snd_seq_poll_descriptors(sequencer, descriptors.data(), unsigned(descriptors.size()), POLLIN);
        if (poll(descriptors.data(), descriptors.size(), 100) <= 0) continue;

        // Copy out under the lock, deliver without it so handlers may call back in.
        std::vector<std::function<void()>> deliveries;
        {
            std::lock_guard guard(lock);
            snd_seq_event_t* event = nullptr;
            while (snd_seq_event_input(sequencer, &event) >= 0 && event) {
                if (event->dest.port == announcePort) {
                    for (auto& [_, client] : clients) {
                        if (client.notify) deliveries.push_back(client.notify);
                    }
                    continue;
                }
                auto ref = byAlsaPort.find(event->dest.port);
                if (ref == byAlsaPort.end()) continue;
                const Port& port = ports[ref->second];
                snd_midi_event_reset_decode(decoder);
                long length = snd_midi_event_decode(decoder, bytes.data(), long(bytes.size()), event);
                if (length <= 0) continue;
                std::vector<uint8_t> message(bytes.begin(), bytes.begin() + length);
                void* connection = nullptr;
                if (auto found = port.connections.find(
                        makeRef(Kind::source, event->source.client, event->source.port));
                    found != port.connections.end()) {
                    connection = found->second;
                } else if (port.kind != Kind::destination) {
                    continue; // not from a source we connected
                }
                if (port.eventRead) {
                    deliveries.push_back([read = port.eventRead, message, connection] {
                        read({Ump::fromBytes(0, message)}, connection);
                    });
                } else if (port.read) {
                    deliveries.push_back([read = port.read, message, connection] {
                        std::vector<uint8_t> buffer(MidiPacketList::headerSize +
                                                    MidiPacketList::packetHeaderSize + message.size() + 4);
                        MidiPacketListBuilder list(buffer);
                        if (list.add(0, message)) read(list.list(), connection);
                    });
                }
            }
        }
        for (auto& delivery : deliveries)
            delivery();
    }
    snd_midi_event_free(decoder);
}

} // namespace tandem
