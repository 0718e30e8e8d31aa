#include "platform/sim/SimMidiSystem.h"

#include "platform/MidiUmp.h"

#include <algorithm>
#include <mutex>

namespace tandem {

namespace {

enum class Kind { client, inputPort, outputPort, device, entity, source, destination };

struct Object {
    Kind kind;
    MidiObjectRef owner = 0; // port/virtual endpoint: its client; entity: device; device endpoint: entity
    std::map<MidiProperty, std::string> strings;
    std::map<MidiProperty, int32_t> integers;
    std::vector<MidiObjectRef> children;                // client: ports and endpoints; device: entities
    std::vector<MidiEndpointRef> sources, destinations; // entity
    MidiSystem::NotifyHandler notify;                   // client
    MidiSystem::ReadHandler read;                       // input port, virtual destination
    MidiSystem::EventReadHandler eventRead;             // input port created with a protocol
    SimMidiSystem::DeviceReceiver receiver;             // device destination
    std::map<MidiEndpointRef, void*> connections;       // input port: source → connection reference
};

bool isString(MidiProperty property) {
    switch (property) {
    case MidiProperty::name:
    case MidiProperty::displayName:
    case MidiProperty::manufacturer:
    case MidiProperty::model:
    case MidiProperty::driverOwner:
        return true;
    default:
        return false;
    }
}

} // namespace

struct SimMidiSystem::State {
    std::mutex lock;
    std::shared_ptr<Queue> delivery;
    Clock* clock;
    std::map<MidiObjectRef, Object> objects;
    std::vector<MidiEndpointRef> sourceOrder, destinationOrder;
    std::vector<MidiDeviceRef> deviceOrder;
    std::map<Call, std::pair<MidiStatus, int>> failures;
    MidiObjectRef nextRef = 0x10000;
    double latency = 0;
    int32_t nextUniqueID = 0x4D430001;

    MidiObjectRef add(Object object) {
        MidiObjectRef ref = nextRef++;
        object.integers.try_emplace(MidiProperty::uniqueID, nextUniqueID++);
        objects.emplace(ref, std::move(object));
        return ref;
    }

    Object* find(MidiObjectRef ref, Kind kind) {
        auto found = objects.find(ref);
        return found != objects.end() && found->second.kind == kind ? &found->second : nullptr;
    }

    Object* find(MidiObjectRef ref) {
        auto found = objects.find(ref);
        return found != objects.end() ? &found->second : nullptr;
    }

    // Consumes one forced failure of `call`, if any.
    MidiStatus forced(Call call) {
        auto found = failures.find(call);
        if (found == failures.end()) return midiNoError;
        MidiStatus status = found->second.first;
        if (--found->second.second <= 0) failures.erase(found);
        return status;
    }

    // Whether a device endpoint's device is offline; virtual endpoints never are.
    bool offline(MidiEndpointRef endpoint) {
        Object* object = find(endpoint);
        if (!object) return true;
        Object* entity = find(object->owner, Kind::entity);
        if (!entity) return false;
        Object* device = find(entity->owner, Kind::device);
        return device && device->integers[MidiProperty::offline] != 0;
    }

    void removeEndpoint(MidiEndpointRef ref) {
        auto erase = [ref](std::vector<MidiEndpointRef>& list) {
            list.erase(std::remove(list.begin(), list.end(), ref), list.end());
        };
        erase(sourceOrder);
        erase(destinationOrder);
        for (auto& [_, object] : objects) {
            if (object.kind == Kind::inputPort) object.connections.erase(ref);
        }
        objects.erase(ref);
    }

    void removePort(MidiPortRef ref) { objects.erase(ref); }

    // A port owned by the client named in `object`, unless the call is made to fail.
    MidiStatus addPort(Call call, Object object, MidiPortRef* port) {
        if (MidiStatus status = forced(call)) return status;
        MidiClientRef client = object.owner;
        if (!find(client, Kind::client)) return midiInvalidClient;
        *port = add(std::move(object));
        find(client)->children.push_back(*port);
        return midiNoError;
    }

    std::vector<NotifyHandler> notifiers() {
        std::vector<NotifyHandler> handlers;
        for (auto& [_, object] : objects) {
            if (object.kind == Kind::client && object.notify) handlers.push_back(object.notify);
        }
        return handlers;
    }
};

namespace {

using State = SimMidiSystem::State;

// Posts every client's set-up notification on the delivery queue. Called without the lock.
void announce(const std::shared_ptr<State>& state, std::vector<MidiSystem::NotifyHandler> handlers) {
    for (auto& handler : handlers)
        state->delivery->async(handler);
}

// What a source sent: a packet list, or Universal MIDI Packets. Each port gets it in its own form.
struct Payload {
    std::vector<uint8_t> packetList; // empty when the source sent events
    MidiEventList events;

    std::vector<uint8_t> asPacketList() const {
        if (!packetList.empty()) return packetList;
        std::vector<std::vector<uint8_t>> pieces;
        size_t size = MidiPacketList::headerSize;
        for (const auto& packet : events) {
            pieces.push_back(Ump::toBytes(packet));
            size += MidiPacketList::packetHeaderSize + pieces.back().size() + 4;
        }
        std::vector<uint8_t> buffer(size);
        MidiPacketListBuilder builder(buffer);
        for (size_t i = 0; i < pieces.size(); ++i)
            builder.add(events[i].timeStamp, pieces[i]);
        buffer.resize(builder.size());
        return buffer;
    }

    MidiEventList asEvents() const {
        if (packetList.empty()) return events;
        MidiEventList converted;
        MidiPacketList(packetList).forEach([&](const MidiPacketList::Packet& packet) {
            converted.push_back(Ump::fromBytes(packet.timeStamp, packet.data));
        });
        return converted;
    }
};

// Hands what a source sent to every input port connected to it, with the connection reference
// current at sending time. As with CoreMIDI, data already on its way still arrives after the
// source is disconnected (carrying the old reference); only disposing the port stops it.
void deliverFrom(const std::shared_ptr<State>& state, MidiEndpointRef source,
                 std::shared_ptr<const Payload> payload) {
    std::vector<std::pair<MidiPortRef, void*>> targets;
    double latency = 0;
    {
        std::lock_guard guard(state->lock);
        latency = state->latency;
        for (auto& [ref, object] : state->objects) {
            if (object.kind != Kind::inputPort) continue;
            if (auto found = object.connections.find(source); found != object.connections.end()) {
                targets.emplace_back(ref, found->second);
            }
        }
    }
    std::weak_ptr<State> weak = state;
    for (auto [port, connection] : targets) {
        state->delivery->after(latency, [weak, port = port, connection = connection, payload] {
            auto state = weak.lock();
            if (!state) return;
            MidiSystem::ReadHandler read;
            MidiSystem::EventReadHandler eventRead;
            {
                std::lock_guard guard(state->lock);
                Object* object = state->find(port, Kind::inputPort);
                if (!object) return;
                read = object->read;
                eventRead = object->eventRead;
            }
            if (eventRead) {
                eventRead(payload->asEvents(), connection);
            } else if (read) {
                auto bytes = payload->asPacketList();
                read(MidiPacketList(bytes), connection);
            }
        });
    }
}

void deliverFrom(const std::shared_ptr<State>& state, MidiEndpointRef source, const MidiPacketList& list) {
    auto payload = std::make_shared<Payload>();
    payload->packetList.assign(list.bytes().begin(), list.bytes().end());
    if (payload->packetList.size() < MidiPacketList::headerSize) payload->packetList.assign(4, 0);
    deliverFrom(state, source, std::move(payload));
}

} // namespace

SimMidiSystem::SimMidiSystem(std::shared_ptr<Queue> delivery, Clock& clock)
    : state(std::make_shared<State>()) {
    state->delivery = std::move(delivery);
    state->clock = &clock;
}

SimMidiSystem::~SimMidiSystem() = default;

SimMidiSystem::Device SimMidiSystem::addDevice(const DevicePlan& plan) {
    Device result;
    std::vector<NotifyHandler> handlers;
    {
        std::lock_guard guard(state->lock);
        Object device{Kind::device};
        device.strings[MidiProperty::name] = plan.name;
        device.strings[MidiProperty::manufacturer] = plan.manufacturer;
        device.strings[MidiProperty::model] = plan.model;
        device.strings[MidiProperty::driverOwner] = plan.driverOwner;
        device.integers[MidiProperty::offline] = plan.offline ? 1 : 0;
        result.ref = state->add(std::move(device));
        state->deviceOrder.push_back(result.ref);
        for (const EntityPlan& entityPlan : plan.entities) {
            Object entity{Kind::entity, result.ref};
            entity.strings[MidiProperty::name] = entityPlan.name;
            entity.integers[MidiProperty::isPrivate] = entityPlan.isPrivate ? 1 : 0;
            MidiEntityRef entityRef = state->add(std::move(entity));
            state->find(result.ref)->children.push_back(entityRef);
            result.entities.push_back(entityRef);
            auto makeEndpoints = [&](const std::vector<EndpointPlan>& plans, Kind kind) {
                std::vector<MidiEndpointRef> refs;
                for (const EndpointPlan& endpointPlan : plans) {
                    Object endpoint{kind, entityRef};
                    endpoint.strings[MidiProperty::name] = endpointPlan.name;
                    std::string display = endpointPlan.displayName;
                    if (display.empty()) {
                        display = endpointPlan.name.rfind(plan.name, 0) == 0
                                      ? endpointPlan.name
                                      : plan.name + " " + endpointPlan.name;
                    }
                    endpoint.strings[MidiProperty::displayName] = display;
                    endpoint.integers[MidiProperty::isPrivate] = endpointPlan.isPrivate ? 1 : 0;
                    MidiEndpointRef ref = state->add(std::move(endpoint));
                    Object* owner = state->find(entityRef);
                    (kind == Kind::source ? owner->sources : owner->destinations).push_back(ref);
                    (kind == Kind::source ? state->sourceOrder : state->destinationOrder).push_back(ref);
                    refs.push_back(ref);
                }
                return refs;
            };
            result.sources.push_back(makeEndpoints(entityPlan.sources, Kind::source));
            result.destinations.push_back(makeEndpoints(entityPlan.destinations, Kind::destination));
        }
        handlers = state->notifiers();
    }
    announce(state, std::move(handlers));
    return result;
}

bool SimMidiSystem::removeDevice(MidiDeviceRef deviceRef) {
    std::vector<NotifyHandler> handlers;
    {
        std::lock_guard guard(state->lock);
        Object* device = state->find(deviceRef, Kind::device);
        if (!device) return false;
        for (MidiEntityRef entityRef : std::vector<MidiEntityRef>(device->children)) {
            Object* entity = state->find(entityRef, Kind::entity);
            for (MidiEndpointRef ref : entity->sources)
                state->removeEndpoint(ref);
            for (MidiEndpointRef ref : entity->destinations)
                state->removeEndpoint(ref);
            state->objects.erase(entityRef);
        }
        state->objects.erase(deviceRef);
        auto& order = state->deviceOrder;
        order.erase(std::remove(order.begin(), order.end(), deviceRef), order.end());
        handlers = state->notifiers();
    }
    announce(state, std::move(handlers));
    return true;
}

bool SimMidiSystem::setOffline(MidiDeviceRef deviceRef, bool offline) {
    std::vector<NotifyHandler> handlers;
    {
        std::lock_guard guard(state->lock);
        Object* device = state->find(deviceRef, Kind::device);
        if (!device) return false;
        device->integers[MidiProperty::offline] = offline ? 1 : 0;
        handlers = state->notifiers();
    }
    announce(state, std::move(handlers));
    return true;
}

MidiStatus SimMidiSystem::deviceSend(MidiEndpointRef deviceSource, const MidiPacketList& list) {
    {
        std::lock_guard guard(state->lock);
        Object* source = state->find(deviceSource, Kind::source);
        if (!source || !state->find(source->owner, Kind::entity)) return midiUnknownEndpoint;
        if (state->offline(deviceSource)) return midiNoError;
    }
    deliverFrom(state, deviceSource, list);
    return midiNoError;
}

MidiStatus SimMidiSystem::deviceSend(MidiEndpointRef deviceSource, std::span<const uint8_t> bytes) {
    std::vector<uint8_t> buffer(MidiPacketList::headerSize + MidiPacketList::packetHeaderSize + bytes.size() +
                                4);
    MidiPacketListBuilder builder(buffer);
    if (!builder.add(state->clock->hostTime(), bytes)) return midiUnknownError;
    return deviceSend(deviceSource, builder.list());
}

MidiStatus SimMidiSystem::emitEvents(MidiEndpointRef deviceSource, const MidiEventList& events) {
    {
        std::lock_guard guard(state->lock);
        Object* source = state->find(deviceSource, Kind::source);
        if (!source || !state->find(source->owner, Kind::entity)) return midiUnknownEndpoint;
        if (state->offline(deviceSource)) return midiNoError;
    }
    auto payload = std::make_shared<Payload>();
    payload->events = events;
    deliverFrom(state, deviceSource, std::move(payload));
    return midiNoError;
}

void SimMidiSystem::setReceiver(MidiEndpointRef deviceDestination, DeviceReceiver receiver) {
    std::lock_guard guard(state->lock);
    if (Object* destination = state->find(deviceDestination, Kind::destination)) {
        destination->receiver = std::move(receiver);
    }
}

void SimMidiSystem::setLatency(double seconds) {
    std::lock_guard guard(state->lock);
    state->latency = seconds;
}

void SimMidiSystem::failNext(Call call, MidiStatus status, int times) {
    std::lock_guard guard(state->lock);
    if (times > 0) state->failures[call] = {status, times};
}

MidiEndpointRef SimMidiSystem::findSource(const std::string& name) {
    std::lock_guard guard(state->lock);
    for (MidiEndpointRef ref : state->sourceOrder) {
        if (state->objects[ref].strings[MidiProperty::name] == name) return ref;
    }
    return 0;
}

MidiEndpointRef SimMidiSystem::findDestination(const std::string& name) {
    std::lock_guard guard(state->lock);
    for (MidiEndpointRef ref : state->destinationOrder) {
        if (state->objects[ref].strings[MidiProperty::name] == name) return ref;
    }
    return 0;
}

size_t SimMidiSystem::clientCount() {
    std::lock_guard guard(state->lock);
    return std::count_if(state->objects.begin(), state->objects.end(),
                         [](auto& entry) { return entry.second.kind == Kind::client; });
}

size_t SimMidiSystem::portCount() {
    std::lock_guard guard(state->lock);
    return std::count_if(state->objects.begin(), state->objects.end(), [](auto& entry) {
        return entry.second.kind == Kind::inputPort || entry.second.kind == Kind::outputPort;
    });
}

size_t SimMidiSystem::connectionCount() {
    std::lock_guard guard(state->lock);
    size_t count = 0;
    for (auto& [_, object] : state->objects)
        count += object.connections.size();
    return count;
}

MidiStatus SimMidiSystem::clientCreate(const std::string& name, NotifyHandler notify, MidiClientRef* client) {
    std::lock_guard guard(state->lock);
    if (MidiStatus status = state->forced(Call::clientCreate)) return status;
    Object object{Kind::client};
    object.strings[MidiProperty::name] = name;
    object.notify = std::move(notify);
    *client = state->add(std::move(object));
    return midiNoError;
}

MidiStatus SimMidiSystem::clientDispose(MidiClientRef clientRef) {
    std::vector<NotifyHandler> handlers;
    {
        std::lock_guard guard(state->lock);
        Object* client = state->find(clientRef, Kind::client);
        if (!client) return midiInvalidClient;
        bool endpointsGone = false;
        for (MidiObjectRef child : std::vector<MidiObjectRef>(client->children)) {
            Object* object = state->find(child);
            if (!object) continue;
            if (object->kind == Kind::source || object->kind == Kind::destination) {
                state->removeEndpoint(child);
                endpointsGone = true;
            } else {
                state->removePort(child);
            }
        }
        state->objects.erase(clientRef);
        if (endpointsGone) handlers = state->notifiers();
    }
    announce(state, std::move(handlers));
    return midiNoError;
}

MidiStatus SimMidiSystem::inputPortCreate(MidiClientRef clientRef, const std::string& name, ReadHandler read,
                                          MidiPortRef* port) {
    Object object{Kind::inputPort, clientRef};
    object.strings[MidiProperty::name] = name;
    object.read = std::move(read);
    std::lock_guard guard(state->lock);
    return state->addPort(Call::inputPortCreate, std::move(object), port);
}

MidiStatus SimMidiSystem::inputPortCreateWithProtocol(MidiClientRef clientRef, const std::string& name,
                                                      MidiProtocol, EventReadHandler read,
                                                      MidiPortRef* port) {
    Object object{Kind::inputPort, clientRef};
    object.strings[MidiProperty::name] = name;
    object.eventRead = std::move(read);
    std::lock_guard guard(state->lock);
    return state->addPort(Call::inputPortCreate, std::move(object), port);
}

MidiStatus SimMidiSystem::outputPortCreate(MidiClientRef clientRef, const std::string& name,
                                           MidiPortRef* port) {
    Object object{Kind::outputPort, clientRef};
    object.strings[MidiProperty::name] = name;
    std::lock_guard guard(state->lock);
    return state->addPort(Call::outputPortCreate, std::move(object), port);
}

MidiStatus SimMidiSystem::portDispose(MidiPortRef port) {
    std::lock_guard guard(state->lock);
    if (!state->find(port, Kind::inputPort) && !state->find(port, Kind::outputPort)) return midiInvalidPort;
    state->removePort(port);
    return midiNoError;
}

MidiStatus SimMidiSystem::portConnectSource(MidiPortRef portRef, MidiEndpointRef source,
                                            void* connectionRef) {
    std::lock_guard guard(state->lock);
    if (MidiStatus status = state->forced(Call::portConnectSource)) return status;
    Object* port = state->find(portRef, Kind::inputPort);
    if (!port) return midiInvalidPort;
    if (!state->find(source, Kind::source)) return midiUnknownEndpoint;
    port->connections[source] = connectionRef;
    return midiNoError;
}

MidiStatus SimMidiSystem::portDisconnectSource(MidiPortRef portRef, MidiEndpointRef source) {
    std::lock_guard guard(state->lock);
    if (MidiStatus status = state->forced(Call::portDisconnectSource)) return status;
    Object* port = state->find(portRef, Kind::inputPort);
    if (!port) return midiInvalidPort;
    return port->connections.erase(source) ? midiNoError : midiNoConnection;
}

MidiStatus SimMidiSystem::sourceCreate(MidiClientRef clientRef, const std::string& name,
                                       MidiEndpointRef* source) {
    std::vector<NotifyHandler> handlers;
    {
        std::lock_guard guard(state->lock);
        if (MidiStatus status = state->forced(Call::sourceCreate)) return status;
        if (!state->find(clientRef, Kind::client)) return midiInvalidClient;
        Object object{Kind::source, clientRef};
        object.strings[MidiProperty::name] = name;
        object.strings[MidiProperty::displayName] = name;
        *source = state->add(std::move(object));
        state->find(clientRef)->children.push_back(*source);
        state->sourceOrder.push_back(*source);
        handlers = state->notifiers();
    }
    announce(state, std::move(handlers));
    return midiNoError;
}

MidiStatus SimMidiSystem::destinationCreate(MidiClientRef clientRef, const std::string& name,
                                            ReadHandler read, MidiEndpointRef* destination) {
    std::vector<NotifyHandler> handlers;
    {
        std::lock_guard guard(state->lock);
        if (MidiStatus status = state->forced(Call::destinationCreate)) return status;
        if (!state->find(clientRef, Kind::client)) return midiInvalidClient;
        Object object{Kind::destination, clientRef};
        object.strings[MidiProperty::name] = name;
        object.strings[MidiProperty::displayName] = name;
        object.read = std::move(read);
        *destination = state->add(std::move(object));
        state->find(clientRef)->children.push_back(*destination);
        state->destinationOrder.push_back(*destination);
        handlers = state->notifiers();
    }
    announce(state, std::move(handlers));
    return midiNoError;
}

MidiStatus SimMidiSystem::endpointDispose(MidiEndpointRef endpoint) {
    std::vector<NotifyHandler> handlers;
    {
        std::lock_guard guard(state->lock);
        Object* object = state->find(endpoint);
        if (!object || (object->kind != Kind::source && object->kind != Kind::destination)) {
            return midiUnknownEndpoint;
        }
        Object* client = state->find(object->owner, Kind::client);
        if (!client) return midiNotPermitted; // a device's endpoint
        auto& children = client->children;
        children.erase(std::remove(children.begin(), children.end(), endpoint), children.end());
        state->removeEndpoint(endpoint);
        handlers = state->notifiers();
    }
    announce(state, std::move(handlers));
    return midiNoError;
}

MidiStatus SimMidiSystem::received(MidiEndpointRef sourceRef, const MidiPacketList& list) {
    {
        std::lock_guard guard(state->lock);
        if (MidiStatus status = state->forced(Call::received)) return status;
        Object* source = state->find(sourceRef, Kind::source);
        if (!source) return midiUnknownEndpoint;
        if (!state->find(source->owner, Kind::client)) return midiWrongEndpointType;
    }
    deliverFrom(state, sourceRef, list);
    return midiNoError;
}

MidiStatus SimMidiSystem::send(MidiPortRef port, MidiEndpointRef destinationRef, const MidiPacketList& list) {
    ReadHandler read;
    DeviceReceiver receiver;
    {
        std::lock_guard guard(state->lock);
        if (MidiStatus status = state->forced(Call::send)) return status;
        if (!state->find(port, Kind::outputPort)) return midiInvalidPort;
        Object* destination = state->find(destinationRef, Kind::destination);
        if (!destination) return midiUnknownEndpoint;
        if (state->offline(destinationRef)) return midiNoError;
        read = destination->read;
        receiver = destination->receiver;
    }
    if (receiver) receiver(list);
    if (read) {
        auto bytes = std::make_shared<std::vector<uint8_t>>(list.bytes().begin(), list.bytes().end());
        std::weak_ptr<State> weak = state;
        state->delivery->async([weak, destinationRef, bytes] {
            auto state = weak.lock();
            if (!state) return;
            ReadHandler read;
            {
                std::lock_guard guard(state->lock);
                Object* destination = state->find(destinationRef, Kind::destination);
                if (!destination) return;
                read = destination->read;
            }
            if (read) read(MidiPacketList(*bytes), nullptr);
        });
    }
    return midiNoError;
}

size_t SimMidiSystem::numberOfSources() {
    std::lock_guard guard(state->lock);
    return state->sourceOrder.size();
}

MidiEndpointRef SimMidiSystem::source(size_t index) {
    std::lock_guard guard(state->lock);
    return index < state->sourceOrder.size() ? state->sourceOrder[index] : 0;
}

size_t SimMidiSystem::numberOfDestinations() {
    std::lock_guard guard(state->lock);
    return state->destinationOrder.size();
}

MidiEndpointRef SimMidiSystem::destination(size_t index) {
    std::lock_guard guard(state->lock);
    return index < state->destinationOrder.size() ? state->destinationOrder[index] : 0;
}

size_t SimMidiSystem::numberOfDevices() {
    std::lock_guard guard(state->lock);
    return state->deviceOrder.size();
}

MidiDeviceRef SimMidiSystem::device(size_t index) {
    std::lock_guard guard(state->lock);
    return index < state->deviceOrder.size() ? state->deviceOrder[index] : 0;
}

size_t SimMidiSystem::numberOfEntities(MidiDeviceRef deviceRef) {
    std::lock_guard guard(state->lock);
    Object* device = state->find(deviceRef, Kind::device);
    return device ? device->children.size() : 0;
}

MidiEntityRef SimMidiSystem::entity(MidiDeviceRef deviceRef, size_t index) {
    std::lock_guard guard(state->lock);
    Object* device = state->find(deviceRef, Kind::device);
    return device && index < device->children.size() ? device->children[index] : 0;
}

size_t SimMidiSystem::numberOfSources(MidiEntityRef entityRef) {
    std::lock_guard guard(state->lock);
    Object* entity = state->find(entityRef, Kind::entity);
    return entity ? entity->sources.size() : 0;
}

MidiEndpointRef SimMidiSystem::source(MidiEntityRef entityRef, size_t index) {
    std::lock_guard guard(state->lock);
    Object* entity = state->find(entityRef, Kind::entity);
    return entity && index < entity->sources.size() ? entity->sources[index] : 0;
}

size_t SimMidiSystem::numberOfDestinations(MidiEntityRef entityRef) {
    std::lock_guard guard(state->lock);
    Object* entity = state->find(entityRef, Kind::entity);
    return entity ? entity->destinations.size() : 0;
}

MidiEndpointRef SimMidiSystem::destination(MidiEntityRef entityRef, size_t index) {
    std::lock_guard guard(state->lock);
    Object* entity = state->find(entityRef, Kind::entity);
    return entity && index < entity->destinations.size() ? entity->destinations[index] : 0;
}

MidiStatus SimMidiSystem::endpointEntity(MidiEndpointRef endpointRef, MidiEntityRef* entity) {
    std::lock_guard guard(state->lock);
    Object* endpoint = state->find(endpointRef);
    if (!endpoint || (endpoint->kind != Kind::source && endpoint->kind != Kind::destination)) {
        return midiUnknownEndpoint;
    }
    // A virtual endpoint belongs to no entity: CoreMIDI answers with a zero reference.
    *entity = state->find(endpoint->owner, Kind::entity) ? endpoint->owner : 0;
    return midiNoError;
}

MidiStatus SimMidiSystem::entityDevice(MidiEntityRef entityRef, MidiDeviceRef* device) {
    std::lock_guard guard(state->lock);
    Object* entity = state->find(entityRef, Kind::entity);
    if (!entity) return midiObjectNotFound;
    *device = entity->owner;
    return midiNoError;
}

MidiStatus SimMidiSystem::stringProperty(MidiObjectRef ref, MidiProperty property, std::string* value) {
    std::lock_guard guard(state->lock);
    if (!isString(property)) return midiWrongPropertyType;
    Object* object = state->find(ref);
    if (!object) return midiObjectNotFound;
    auto found = object->strings.find(property);
    if (found == object->strings.end() || (found->second.empty() && property != MidiProperty::name)) {
        return midiUnknownProperty;
    }
    *value = found->second;
    return midiNoError;
}

MidiStatus SimMidiSystem::integerProperty(MidiObjectRef ref, MidiProperty property, int32_t* value) {
    std::lock_guard guard(state->lock);
    if (isString(property)) return midiWrongPropertyType;
    // Like CoreMIDI, an endpoint or entity without its own value inherits its owner's.
    for (Object* object = state->find(ref); object;) {
        auto found = object->integers.find(property);
        if (found != object->integers.end()) {
            *value = found->second;
            return midiNoError;
        }
        if (object->kind != Kind::source && object->kind != Kind::destination && object->kind != Kind::entity)
            break;
        object = state->find(object->owner);
        if (object && object->kind == Kind::client) break;
    }
    return state->find(ref) ? midiUnknownProperty : midiObjectNotFound;
}

} // namespace tandem
