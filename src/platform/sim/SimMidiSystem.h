#pragma once

#include "base/Clock.h"
#include "base/Queue.h"
#include "platform/Midi.h"

#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tandem {

// An in-memory MIDI graph with CoreMIDI's behaviour: devices hold entities, entities hold source and
// destination endpoints; clients own ports and virtual endpoints. Data from a source reaches every
// input port connected to it on the delivery queue (CoreMIDI's thread). Tests and simulated peers
// build the world, play the devices' side and inject failing statuses. Thread-safe.
class SimMidiSystem final : public MidiSystem {
public:
    struct EndpointPlan {
        std::string name;
        std::string displayName; // empty: made from the device and endpoint names
        bool isPrivate = false;
    };
    struct EntityPlan {
        std::string name;
        std::vector<EndpointPlan> sources;
        std::vector<EndpointPlan> destinations;
        bool isPrivate = false;
    };
    struct DevicePlan {
        std::string name;
        std::vector<EntityPlan> entities;
        std::string manufacturer;
        std::string model;
        std::string driverOwner;
        bool offline = false;
    };
    // The references of a device just added, in the order of its plan.
    struct Device {
        MidiDeviceRef ref = 0;
        std::vector<MidiEntityRef> entities;
        std::vector<std::vector<MidiEndpointRef>> sources;      // per entity
        std::vector<std::vector<MidiEndpointRef>> destinations; // per entity
    };
    // The device side of a device destination: called synchronously with everything sent to it.
    using DeviceReceiver = std::function<void(const MidiPacketList& list)>;

    // Calls whose status can be forced.
    enum class Call {
        clientCreate,
        inputPortCreate,
        outputPortCreate,
        sourceCreate,
        destinationCreate,
        portConnectSource,
        portDisconnectSource,
        send,
        received,
    };

    SimMidiSystem(std::shared_ptr<Queue> delivery, Clock& clock);
    ~SimMidiSystem() override;

    // World building; each change is announced to every client.
    Device addDevice(const DevicePlan& plan);
    bool removeDevice(MidiDeviceRef device);
    bool setOffline(MidiDeviceRef device, bool offline);

    // A device sending on one of its sources (nothing happens while it is offline).
    MidiStatus deviceSend(MidiEndpointRef deviceSource, const MidiPacketList& list);
    // One packet, time-stamped with the clock's host time.
    MidiStatus deviceSend(MidiEndpointRef deviceSource, std::span<const uint8_t> bytes);
    // A device sending Universal MIDI Packets (ports that take packet lists get them converted).
    MidiStatus emitEvents(MidiEndpointRef deviceSource, const MidiEventList& events);
    void setReceiver(MidiEndpointRef deviceDestination, DeviceReceiver receiver);

    // How long data takes from a source to the ports connected to it (0 by default).
    void setLatency(double seconds);

    // The next `times` calls of `call` return `status` and change nothing.
    void failNext(Call call, MidiStatus status, int times = 1);

    // First endpoint whose name is exactly `name`, or 0.
    MidiEndpointRef findSource(const std::string& name);
    MidiEndpointRef findDestination(const std::string& name);
    // Number of objects of any kind alive: lets tests see that owners dispose what they create.
    size_t clientCount();
    size_t portCount();
    size_t connectionCount();

    // MidiSystem
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

    struct State;

private:
    std::shared_ptr<State> state;
};

} // namespace tandem
