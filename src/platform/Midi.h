#pragma once

#include "platform/MidiPacketList.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tandem {

// CoreMIDI-style object references: 0 means none.
using MidiObjectRef = uint32_t;
using MidiClientRef = MidiObjectRef;
using MidiPortRef = MidiObjectRef;
using MidiDeviceRef = MidiObjectRef;
using MidiEntityRef = MidiObjectRef;
using MidiEndpointRef = MidiObjectRef;

// Status codes as CoreMIDI returns them: 0 is success.
using MidiStatus = int32_t;
constexpr MidiStatus midiNoError = 0;
constexpr MidiStatus midiInvalidClient = -10830;
constexpr MidiStatus midiInvalidPort = -10831;
constexpr MidiStatus midiWrongEndpointType = -10832;
constexpr MidiStatus midiNoConnection = -10833;
constexpr MidiStatus midiUnknownEndpoint = -10834;
constexpr MidiStatus midiUnknownProperty = -10835;
constexpr MidiStatus midiWrongPropertyType = -10836;
constexpr MidiStatus midiNotPermitted = -10844;
constexpr MidiStatus midiUnknownError = -10845;
constexpr MidiStatus midiObjectNotFound = -10842;

enum class MidiProperty {
    name,        // string
    displayName, // string
    manufacturer,
    model,
    driverOwner,
    offline,   // integer, 1 = offline
    isPrivate, // integer, 1 = private
    uniqueID,  // integer
};

// One packet of Universal MIDI Packet words with its time stamp, as in CoreMIDI's MIDIEventList.
struct MidiEventPacket {
    uint64_t timeStamp = 0;
    std::vector<uint32_t> words;
    bool operator==(const MidiEventPacket&) const = default;
};
using MidiEventList = std::vector<MidiEventPacket>;

// Words per Universal MIDI Packet by message type (the top four bits of its first word).
constexpr size_t umpWordCount(uint32_t firstWord) {
    constexpr size_t counts[16] = {1, 1, 1, 2, 2, 4, 1, 1, 2, 2, 2, 3, 3, 4, 4, 4};
    return counts[firstWord >> 28];
}

enum class MidiProtocol { midi1_0, midi2_0 };

// What the system asks of the platform's MIDI services, in CoreMIDI's terms. Handlers are called on
// the MIDI system's own delivery thread, never on the caller's.
class MidiSystem {
public:
    // Called after the set of devices or endpoints changed.
    using NotifyHandler = std::function<void()>;
    // Called with one packet list and the connection reference given when the source was connected
    // (or nothing, for a virtual destination).
    using ReadHandler = std::function<void(const MidiPacketList& list, void* connectionRef)>;

    // Called with Universal MIDI Packets in the port's protocol.
    using EventReadHandler = std::function<void(const MidiEventList& list, void* connectionRef)>;

    virtual ~MidiSystem() = default;

    virtual MidiStatus clientCreate(const std::string& name, NotifyHandler notify, MidiClientRef* client) = 0;
    virtual MidiStatus clientDispose(MidiClientRef client) = 0;

    virtual MidiStatus inputPortCreate(MidiClientRef client, const std::string& name, ReadHandler read,
                                       MidiPortRef* port) = 0;
    // An input port that receives Universal MIDI Packets (MIDI 1.0 protocol: types 1, 2 and 3).
    virtual MidiStatus inputPortCreateWithProtocol(MidiClientRef client, const std::string& name,
                                                   MidiProtocol protocol, EventReadHandler read,
                                                   MidiPortRef* port) = 0;
    virtual MidiStatus outputPortCreate(MidiClientRef client, const std::string& name, MidiPortRef* port) = 0;
    virtual MidiStatus portDispose(MidiPortRef port) = 0;
    virtual MidiStatus portConnectSource(MidiPortRef port, MidiEndpointRef source, void* connectionRef) = 0;
    virtual MidiStatus portDisconnectSource(MidiPortRef port, MidiEndpointRef source) = 0;

    // Virtual endpoints owned by a client.
    virtual MidiStatus sourceCreate(MidiClientRef client, const std::string& name,
                                    MidiEndpointRef* source) = 0;
    virtual MidiStatus destinationCreate(MidiClientRef client, const std::string& name, ReadHandler read,
                                         MidiEndpointRef* destination) = 0;
    virtual MidiStatus endpointDispose(MidiEndpointRef endpoint) = 0;

    // A virtual source's data reaching every port connected to it.
    virtual MidiStatus received(MidiEndpointRef source, const MidiPacketList& list) = 0;
    // Data sent out of an output port to a destination.
    virtual MidiStatus send(MidiPortRef port, MidiEndpointRef destination, const MidiPacketList& list) = 0;

    // The endpoint and device tree. Indices outside the range give 0.
    virtual size_t numberOfSources() = 0;
    virtual MidiEndpointRef source(size_t index) = 0;
    virtual size_t numberOfDestinations() = 0;
    virtual MidiEndpointRef destination(size_t index) = 0;
    virtual size_t numberOfDevices() = 0;
    virtual MidiDeviceRef device(size_t index) = 0;
    virtual size_t numberOfEntities(MidiDeviceRef device) = 0;
    virtual MidiEntityRef entity(MidiDeviceRef device, size_t index) = 0;
    virtual size_t numberOfSources(MidiEntityRef entity) = 0;
    virtual MidiEndpointRef source(MidiEntityRef entity, size_t index) = 0;
    virtual size_t numberOfDestinations(MidiEntityRef entity) = 0;
    virtual MidiEndpointRef destination(MidiEntityRef entity, size_t index) = 0;
    virtual MidiStatus endpointEntity(MidiEndpointRef endpoint, MidiEntityRef* entity) = 0;
    virtual MidiStatus entityDevice(MidiEntityRef entity, MidiDeviceRef* device) = 0;

    virtual MidiStatus stringProperty(MidiObjectRef object, MidiProperty property, std::string* value) = 0;
    virtual MidiStatus integerProperty(MidiObjectRef object, MidiProperty property, int32_t* value) = 0;
};

} // namespace tandem
