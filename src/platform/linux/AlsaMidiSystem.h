#pragma once

#include "platform/Midi.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

typedef struct _snd_seq snd_seq_t;

namespace tandem {

// The MIDI system on Linux's ALSA sequencer. The process is one sequencer client; each of our
// ports is one sequencer port. Other sequencer clients are devices, each of their ports an entity
// holding a source (readable port) and/or a destination (writable port). Input is read on a thread of
// the adapter's own and handed to the ports' handlers there, as CoreMIDI does on its thread.
// Without a sequencer (no /dev/snd/seq) every creating call fails with a status and the tree is empty.
class AlsaMidiSystem final : public MidiSystem {
public:
    AlsaMidiSystem();
    ~AlsaMidiSystem() override;
    AlsaMidiSystem(const AlsaMidiSystem&) = delete;
    AlsaMidiSystem& operator=(const AlsaMidiSystem&) = delete;

    bool available() const { return sequencer != nullptr; }

    MidiStatus clientCreate(const std::string& name, NotifyHandler notify, MidiClientRef* client) override;
    MidiStatus clientDispose(MidiClientRef client) override;
    MidiStatus inputPortCreate(MidiClientRef client, const std::string& name, ReadHandler read,
                               MidiPortRef* port) override;
    MidiStatus inputPortCreateWithProtocol(MidiClientRef client, const std::string& name,
                                           MidiProtocol protocol, EventReadHandler read,
                                           MidiPortRef* port) override;
    MidiStatus outputPortCreate(MidiClientRef client, const std::string& name, MidiPortRef* port) override;
    MidiStatus portDispose(MidiPortRef port) override;
    MidiStatus portConnectSource(MidiPortRef port, MidiEndpointRef source, void* connectionRef) override;
    MidiStatus portDisconnectSource(MidiPortRef port, MidiEndpointRef source) override;
    MidiStatus sourceCreate(MidiClientRef client, const std::string& name, MidiEndpointRef* source) override;
    MidiStatus destinationCreate(MidiClientRef client, const std::string& name, ReadHandler read,
                                 MidiEndpointRef* destination) override;
    MidiStatus endpointDispose(MidiEndpointRef endpoint) override;
    MidiStatus received(MidiEndpointRef source, const MidiPacketList& list) override;
    MidiStatus send(MidiPortRef port, MidiEndpointRef destination, const MidiPacketList& list) override;
    size_t numberOfSources() override;
    MidiEndpointRef source(size_t index) override;
    size_t numberOfDestinations() override;
    MidiEndpointRef destination(size_t index) override;
    size_t numberOfDevices() override;
    MidiDeviceRef device(size_t index) override;
    size_t numberOfEntities(MidiDeviceRef device) override;
    MidiEntityRef entity(MidiDeviceRef device, size_t index) override;
    size_t numberOfSources(MidiEntityRef entity) override;
    MidiEndpointRef source(MidiEntityRef entity, size_t index) override;
    size_t numberOfDestinations(MidiEntityRef entity) override;
    MidiEndpointRef destination(MidiEntityRef entity, size_t index) override;
    MidiStatus endpointEntity(MidiEndpointRef endpoint, MidiEntityRef* entity) override;
    MidiStatus entityDevice(MidiEntityRef entity, MidiDeviceRef* device) override;
    MidiStatus stringProperty(MidiObjectRef object, MidiProperty property, std::string* value) override;
    MidiStatus integerProperty(MidiObjectRef object, MidiProperty property, int32_t* value) override;

    // References encode sequencer addresses: kind in the top byte, then client and port.
    enum class Kind : uint8_t { client = 1, port = 2, device = 3, entity = 4, source = 5, destination = 6 };

private:
    struct Client {
        std::string name;
        NotifyHandler notify;
        std::vector<MidiObjectRef> owned;
    };
    struct Port {
        MidiClientRef client = 0;
        int alsaPort = -1;
        Kind kind = Kind::port; // port (input or output), source or destination
        bool input = false;
        ReadHandler read;
        EventReadHandler eventRead;
        std::map<MidiEndpointRef, void*> connections;
    };
    struct Address {
        int client = -1, port = -1;
    };

    MidiStatus createPort(MidiClientRef client, const std::string& name, unsigned capabilities, Port port,
                          MidiObjectRef* ref);
    std::vector<Address> remotePorts(unsigned capabilities);
    std::vector<int> remoteClients();
    MidiStatus output(int ourPort, const Address* destination, const MidiPacketList& list);
    void readLoop();

    snd_seq_t* sequencer = nullptr;
    int self = -1;
    int announcePort = -1;
    std::mutex lock;
    std::map<MidiClientRef, Client> clients;
    std::map<MidiObjectRef, Port> ports; // our ports, by the reference handed out
    std::map<int, MidiObjectRef> byAlsaPort;
    MidiClientRef nextClient = 1;
    std::atomic<bool> stopping{false};
    std::thread reader;
};

} // namespace tandem
