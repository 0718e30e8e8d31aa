#include "platform/sim/SimUsbHost.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace tandem {

namespace {

constexpr size_t lineBytes = 2048, lines = 160, width = 960, frameBytes = lineBytes * lines;
constexpr uint8_t mask[4] = {0xE7, 0xF3, 0xE7, 0xFF};
constexpr uint8_t header[16] = {0xFF, 0xCC, 0xAA, 0x88};

class SimInterface final : public UsbInterface {
public:
    explicit SimInterface(SimPush2Display& display)
        : display(display) {}
    ~SimInterface() override { close(); }

    UsbStatus open() override {
        UsbStatus status = display.open();
        isOpen = status == UsbStatus::success;
        return status;
    }
    void close() override {
        if (isOpen) display.close();
        isOpen = false;
    }
    // Endpoint 1 IN (interrupt), then endpoint 1 OUT (bulk): the open must pick the right one.
    int numberOfEndpoints() override { return 2; }
    UsbStatus pipeProperties(int pipe, UsbPipeProperties* properties) override {
        if (!isOpen || pipe < 1 || pipe > 2) return UsbStatus::failure;
        *properties = pipe == 1 ? UsbPipeProperties{1, 3, 1} : UsbPipeProperties{0, 2, 1};
        return UsbStatus::success;
    }
    UsbStatus writePipe(int pipe, std::span<const uint8_t> bytes, uint32_t, uint32_t) override {
        if (!isOpen || pipe != 2) return UsbStatus::failure;
        return display.write(bytes);
    }
    UsbStatus clearPipeStallBothEnds(int pipe) override {
        if (!isOpen || pipe != 2) return UsbStatus::failure;
        display.clearStall();
        return UsbStatus::success;
    }

private:
    SimPush2Display& display;
    bool isOpen = false;
};

} // namespace

void SimPush2Display::setMode(Mode mode) {
    std::lock_guard guard(lock);
    current = mode;
    if (mode != Mode::present) opened = false;
}

SimPush2Display::Mode SimPush2Display::mode() const {
    std::lock_guard guard(lock);
    return current;
}

void SimPush2Display::stallNextWrite() {
    std::lock_guard guard(lock);
    stallNext = true;
}

void SimPush2Display::failNextWrite(UsbStatus status) {
    std::lock_guard guard(lock);
    failNext = status;
}

int SimPush2Display::framesShown() const {
    std::lock_guard guard(lock);
    return frames;
}

std::optional<std::vector<uint16_t>> SimPush2Display::lastImage() const {
    std::lock_guard guard(lock);
    return image;
}

int SimPush2Display::malformedFrames() const {
    std::lock_guard guard(lock);
    return malformed;
}

int SimPush2Display::openCount() const {
    std::lock_guard guard(lock);
    return opens;
}

int SimPush2Display::stallsCleared() const {
    std::lock_guard guard(lock);
    return stalls;
}

bool SimPush2Display::isOpen() const {
    std::lock_guard guard(lock);
    return opened;
}

UsbStatus SimPush2Display::open() {
    std::lock_guard guard(lock);
    switch (current) {
    case Mode::heldByOther:
        return UsbStatus::exclusiveAccess;
    case Mode::absent:
        return UsbStatus::noDevice;
    case Mode::unreachable:
        return UsbStatus::failure;
    case Mode::present:
        break;
    }
    opened = true;
    ++opens;
    return UsbStatus::success;
}

void SimPush2Display::close() {
    std::lock_guard guard(lock);
    opened = false;
    pending.clear();
    inFrame = false;
}

void SimPush2Display::clearStall() {
    std::lock_guard guard(lock);
    ++stalls;
    pending.clear();
    inFrame = false;
}

UsbStatus SimPush2Display::write(std::span<const uint8_t> bytes) {
    std::lock_guard guard(lock);
    if (!opened || current != Mode::present) return UsbStatus::noDevice;
    if (stallNext) {
        stallNext = false;
        return UsbStatus::pipeStalled;
    }
    if (failNext) {
        UsbStatus status = *failNext;
        failNext.reset();
        return status;
    }
    if (bytes.size() == sizeof header && std::memcmp(bytes.data(), header, sizeof header) == 0) {
        if (inFrame) ++malformed; // the previous frame never finished
        inFrame = true;
        pending.clear();
        return UsbStatus::success;
    }
    if (!inFrame) {
        ++malformed;
        return UsbStatus::success;
    }
    pending.insert(pending.end(), bytes.begin(), bytes.end());
    if (pending.size() < frameBytes) return UsbStatus::success;
    inFrame = false;
    if (pending.size() != frameBytes) {
        ++malformed;
        return UsbStatus::success;
    }
    std::vector<uint16_t> pixels(width * lines);
    for (size_t line = 0; line < lines; ++line) {
        const uint8_t* row = pending.data() + line * lineBytes;
        for (size_t at = width * 2; at < lineBytes; ++at) {
            if ((row[at] ^ mask[at % 4]) != 0) {
                ++malformed;
                return UsbStatus::success;
            }
        }
        for (size_t x = 0; x < width; ++x) {
            uint8_t low = row[2 * x] ^ mask[(2 * x) % 4], high = row[2 * x + 1] ^ mask[(2 * x + 1) % 4];
            pixels[line * width + x] = uint16_t(low | high << 8);
        }
    }
    image = std::move(pixels);
    ++frames;
    return UsbStatus::success;
}

struct SimUsbHost::Registry {
    struct Node {
        UsbRegistryEntry entry;
        uint64_t parent = 0;
        std::vector<uint64_t> children;
    };
    // A subtree taken out for a re-enumeration, to be put back as it was.
    struct Subtree {
        UsbRegistryEntry entry;
        std::vector<Subtree> children;
    };

    mutable std::mutex lock;
    std::map<uint64_t, Node> nodes;
    uint64_t nextId = 0x100000a00;
    std::map<int64_t, DeviceBehaviour> behaviours;
    std::vector<ReEnumeration> reEnumerations;
    SimNotices<UsbDeviceNotice> notices;

    static bool isDevice(const UsbRegistryEntry& entry) { return entry.conformsTo("IOUSBHostDevice"); }

    // With the lock held.
    uint64_t add(uint64_t parent, UsbRegistryEntry entry, std::vector<UsbDeviceNotice>& announced) {
        uint64_t id = nextId++;
        entry.id = id;
        if (isDevice(entry)) announced.push_back({true, entry});
        nodes[id] = Node{std::move(entry), parent, {}};
        if (auto found = nodes.find(parent); found != nodes.end()) found->second.children.push_back(id);
        return id;
    }

    Subtree remove(uint64_t id, std::vector<UsbDeviceNotice>& announced) {
        Node node = nodes.at(id);
        Subtree tree{node.entry, {}};
        for (uint64_t child : node.children)
            tree.children.push_back(remove(child, announced));
        if (isDevice(node.entry)) announced.push_back({false, node.entry});
        nodes.erase(id);
        if (auto found = nodes.find(node.parent); found != nodes.end()) std::erase(found->second.children, id);
        return tree;
    }

    void restore(uint64_t parent, const Subtree& tree, std::vector<UsbDeviceNotice>& announced) {
        uint64_t id = add(parent, tree.entry, announced);
        for (const Subtree& child : tree.children)
            restore(id, child, announced);
    }

    DeviceBehaviour behaviour(const UsbRegistryEntry& entry) const {
        auto found = behaviours.find(entry.number("locationID").value_or(-1));
        return found == behaviours.end() ? DeviceBehaviour{} : found->second;
    }

    void announce(const std::vector<UsbDeviceNotice>& announced) {
        for (const UsbDeviceNotice& notice : announced)
            notices.post(notice);
    }
};

namespace {

class SimDeviceInterface final : public UsbDeviceInterface {
public:
    SimDeviceInterface(std::shared_ptr<SimUsbHost::Registry> registry, uint64_t id)
        : registry(std::move(registry))
        , id(id) {}

    uint32_t open() override { return opening(false); }
    uint32_t openSeize() override { return opening(true); }

    uint32_t reEnumerate(uint32_t) override {
        std::vector<UsbDeviceNotice> announced;
        {
            std::lock_guard guard(registry->lock);
            auto found = registry->nodes.find(id);
            if (found == registry->nodes.end()) return IOReturn::noDevice;
            if (!opened) return 0xe00002cd; // kIOReturnNotOpen
            const UsbRegistryEntry& entry = found->second.entry;
            if (uint32_t status = registry->behaviour(entry).reEnumerateStatus) return status;
            registry->reEnumerations.push_back({entry.number("locationID").value_or(-1), entry.name, seized});
            uint64_t parent = found->second.parent;
            auto tree = registry->remove(id, announced);
            registry->restore(parent, tree, announced);
            opened = false;
        }
        registry->announce(announced);
        return IOReturn::success;
    }

    uint32_t close() override {
        opened = false;
        return IOReturn::success;
    }

private:
    uint32_t opening(bool seize) {
        std::lock_guard guard(registry->lock);
        auto found = registry->nodes.find(id);
        if (found == registry->nodes.end()) return IOReturn::noDevice;
        SimUsbHost::DeviceBehaviour behaviour = registry->behaviour(found->second.entry);
        if (behaviour.openStatus) return behaviour.openStatus;
        if (behaviour.heldExclusively && !seize) return IOReturn::exclusiveAccess;
        opened = true;
        seized = seize;
        return IOReturn::success;
    }

    std::shared_ptr<SimUsbHost::Registry> registry;
    uint64_t id;
    bool opened = false;
    bool seized = false;
};

} // namespace

SimUsbHost::SimUsbHost(SimPush2Display* display)
    : display(display)
    , registry(std::make_shared<Registry>()) {}

SimUsbHost::~SimUsbHost() = default;

uint64_t SimUsbHost::addEntry(uint64_t parent, UsbRegistryEntry entry) {
    std::vector<UsbDeviceNotice> announced;
    uint64_t id;
    {
        std::lock_guard guard(registry->lock);
        id = registry->add(parent, std::move(entry), announced);
    }
    registry->announce(announced);
    return id;
}

bool SimUsbHost::removeEntry(uint64_t id) {
    std::vector<UsbDeviceNotice> announced;
    {
        std::lock_guard guard(registry->lock);
        if (!registry->nodes.count(id)) return false;
        registry->remove(id, announced);
    }
    registry->announce(announced);
    return true;
}

uint64_t SimUsbHost::deviceAt(int64_t locationID) {
    std::lock_guard guard(registry->lock);
    for (const auto& [id, node] : registry->nodes) {
        if (Registry::isDevice(node.entry) && node.entry.number("locationID") == locationID) return id;
    }
    return 0;
}

void SimUsbHost::setBehaviour(int64_t locationID, DeviceBehaviour behaviour) {
    std::lock_guard guard(registry->lock);
    registry->behaviours[locationID] = behaviour;
}

std::vector<SimUsbHost::ReEnumeration> SimUsbHost::reEnumerations() const {
    std::lock_guard guard(registry->lock);
    return registry->reEnumerations;
}

std::vector<UsbRegistryEntry> SimUsbHost::matchingServices(const UsbMatching& matching) {
    std::lock_guard guard(registry->lock);
    std::vector<UsbRegistryEntry> found;
    for (const auto& [id, node] : registry->nodes) {
        const UsbRegistryEntry& entry = node.entry;
        if (!entry.conformsTo(matching.className)) continue;
        if (matching.vendor && entry.number("idVendor") != matching.vendor) continue;
        if (matching.product && entry.number("idProduct") != matching.product) continue;
        found.push_back(entry);
    }
    return found;
}

std::optional<UsbRegistryEntry> SimUsbHost::entry(uint64_t id) {
    std::lock_guard guard(registry->lock);
    auto found = registry->nodes.find(id);
    if (found == registry->nodes.end()) return std::nullopt;
    return found->second.entry;
}

std::vector<UsbRegistryEntry> SimUsbHost::children(uint64_t id) {
    std::lock_guard guard(registry->lock);
    std::vector<UsbRegistryEntry> list;
    auto found = registry->nodes.find(id);
    if (found == registry->nodes.end()) return list;
    for (uint64_t child : found->second.children)
        list.push_back(registry->nodes.at(child).entry);
    return list;
}

std::optional<UsbRegistryEntry> SimUsbHost::parent(uint64_t id) {
    std::lock_guard guard(registry->lock);
    auto found = registry->nodes.find(id);
    if (found == registry->nodes.end()) return std::nullopt;
    auto parent = registry->nodes.find(found->second.parent);
    if (parent == registry->nodes.end()) return std::nullopt;
    return parent->second.entry;
}

ObservationToken SimUsbHost::observeDevices(std::shared_ptr<Queue> queue,
                                            std::function<void(const UsbDeviceNotice&)> handler) {
    return registry->notices.add(std::move(queue), [handler](UsbDeviceNotice notice) { handler(notice); });
}

std::unique_ptr<UsbDeviceInterface> SimUsbHost::deviceInterface(uint64_t id) {
    std::lock_guard guard(registry->lock);
    auto found = registry->nodes.find(id);
    if (found == registry->nodes.end() || !Registry::isDevice(found->second.entry)) return nullptr;
    if (registry->behaviour(found->second.entry).noInterface) return nullptr;
    return std::make_unique<SimDeviceInterface>(registry, id);
}

UsbHost::Found SimUsbHost::findInterface(uint16_t vendor, uint16_t product, int configuration,
                                         int interfaceNumber) {
    ++searchCount;
    if (!display || vendor != 0x2982 || product != 0x1967 || configuration != 1 || interfaceNumber != 0 ||
        display->mode() == SimPush2Display::Mode::absent) {
        return {nullptr, UsbStatus::notFound};
    }
    return {std::make_unique<SimInterface>(*display), UsbStatus::success};
}

} // namespace tandem
