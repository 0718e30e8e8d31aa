#include "platform/linux/SysfsUsb.h"

#include "platform/linux/ProcFs.h"

#include <libusb.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <tuple>

namespace tandem {

namespace fs = std::filesystem;

namespace {

bool digits(const std::string& text, size_t from, size_t to) {
    if (from >= to) return false;
    for (size_t i = from; i < to; ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    return true;
}

// "B-P.P.P": a device below a root hub.
bool isDeviceName(const std::string& name) {
    size_t dash = name.find('-');
    if (dash == std::string::npos || !digits(name, 0, dash) || name.find(':') != std::string::npos)
        return false;
    size_t at = dash + 1;
    while (true) {
        size_t dot = name.find('.', at);
        size_t end = dot == std::string::npos ? name.size() : dot;
        if (!digits(name, at, end)) return false;
        if (dot == std::string::npos) return name.compare(dash + 1, std::string::npos, "0") != 0;
        at = dot + 1;
    }
}

bool isRootHubName(const std::string& name) {
    return name.size() > 3 && name.compare(0, 3, "usb") == 0 && digits(name, 3, name.size());
}

// "1-1.2:1.0" → "1-1.2"; a root hub's "1-0:1.0" → "usb1"; nothing for other names.
std::optional<std::string> deviceOfInterface(const std::string& name) {
    size_t colon = name.find(':');
    if (colon == std::string::npos) return std::nullopt;
    std::string device = name.substr(0, colon);
    size_t dash = device.find('-');
    if (dash == std::string::npos) return std::nullopt;
    if (device.compare(dash + 1, std::string::npos, "0") == 0) return "usb" + device.substr(0, dash);
    if (!isDeviceName(device)) return std::nullopt;
    return device;
}

std::optional<std::string> attribute(const fs::path& file) {
    auto bytes = procfs::readSmall(file, 512);
    if (!bytes) return std::nullopt;
    while (!bytes->empty() && (bytes->back() == '\n' || bytes->back() == ' '))
        bytes->pop_back();
    return bytes;
}

std::optional<int64_t> number(const fs::path& file, int base) {
    auto text = attribute(file);
    if (!text || text->empty()) return std::nullopt;
    char* end = nullptr;
    long long value = std::strtoll(text->c_str(), &end, base);
    if (end == text->c_str()) return std::nullopt;
    return int64_t(value);
}

std::string driverOf(const fs::path& interface) {
    std::error_code error;
    fs::path target = fs::read_symlink(interface / "driver", error);
    return error ? std::string() : target.filename().string();
}

std::vector<std::string> listNames(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        names.push_back(it->path().filename().string());
    return names;
}

// Registry order: by bus, then port by port.
std::vector<int> sortKey(const std::string& name) {
    std::vector<int> key;
    const char* at = name.c_str();
    while (*at) {
        if (*at >= '0' && *at <= '9') {
            key.push_back(int(std::strtol(at, const_cast<char**>(&at), 10)));
        } else {
            ++at;
        }
    }
    return key;
}

const std::vector<std::string> deviceClasses = {"IOUSBDevice", "IOService", "IORegistryEntry"};
const std::vector<std::string> serviceClasses = {"IOService", "IORegistryEntry"};

} // namespace

std::optional<int64_t> usbLocationID(const std::string& name) {
    if (!isDeviceName(name)) return std::nullopt;
    size_t dash = name.find('-');
    long bus = std::strtol(name.c_str(), nullptr, 10);
    if (bus < 0 || bus > 255) return std::nullopt;
    int64_t location = int64_t(bus) << 24;
    int shift = 20, ports = 0;
    const char* at = name.c_str() + dash + 1;
    while (*at) {
        char* end = nullptr;
        long port = std::strtol(at, &end, 10);
        if (port < 1 || port > 15 || ++ports > 6) return std::nullopt;
        location |= int64_t(port) << shift;
        shift -= 4;
        at = *end == '.' ? end + 1 : end;
    }
    return location;
}

bool SysfsUsbRegistry::Key::operator<(const Key& other) const {
    return std::tie(kind, name, address, driver, pid) <
           std::tie(other.kind, other.name, other.address, other.driver, other.pid);
}

SysfsUsbRegistry::SysfsUsbRegistry(UsbRoots roots)
    : where(std::move(roots)) {}

uint64_t SysfsUsbRegistry::idFor(const Key& key) {
    std::lock_guard guard(lock);
    auto found = ids.find(key);
    if (found != ids.end()) return found->second;
    uint64_t id = nextId++;
    ids[key] = id;
    keys[id] = key;
    return id;
}

std::optional<SysfsUsbRegistry::Key> SysfsUsbRegistry::keyFor(uint64_t id) {
    std::lock_guard guard(lock);
    auto found = keys.find(id);
    if (found == keys.end()) return std::nullopt;
    return found->second;
}

int SysfsUsbRegistry::addressOf(const std::string& device) {
    return int(number(devicesFolder() / device / "devnum", 10).value_or(0));
}

std::optional<UsbRegistryEntry> SysfsUsbRegistry::buildDevice(const std::string& name, bool checkAddress,
                                                              int address) {
    const fs::path folder = devicesFolder() / name;
    int now = addressOf(name);
    if (now == 0 || (checkAddress && now != address)) return std::nullopt;
    UsbRegistryEntry entry;
    entry.className = "IOUSBHostDevice";
    entry.superclasses = deviceClasses;
    if (auto vendor = number(folder / "idVendor", 16)) entry.properties["idVendor"] = *vendor;
    if (auto product = number(folder / "idProduct", 16)) entry.properties["idProduct"] = *product;
    if (auto location = usbLocationID(name)) entry.properties["locationID"] = *location;
    if (auto maker = attribute(folder / "manufacturer")) entry.properties["USB Vendor Name"] = *maker;
    auto product = attribute(folder / "product");
    if (product) entry.properties["USB Product Name"] = *product;
    entry.name = product && !product->empty() ? *product : "IOUSBHostDevice";
    entry.id = idFor({Key::Kind::device, name, now});
    return entry;
}

std::vector<std::string> SysfsUsbRegistry::interfacesOf(const std::string& device) {
    std::vector<std::string> found;
    for (const std::string& name : listNames(devicesFolder() / device)) {
        if (deviceOfInterface(name) == device) found.push_back(name);
    }
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return sortKey(a) < sortKey(b); });
    return found;
}

std::vector<std::string> SysfsUsbRegistry::devicesOnHub(const std::string& hub) {
    std::vector<std::string> found;
    for (const std::string& name : listNames(devicesFolder() / hub)) {
        if (!isDeviceName(name)) continue;
        std::string above = name.find('.') == std::string::npos ? "usb" + name.substr(0, name.find('-'))
                                                                : name.substr(0, name.rfind('.'));
        if (above == hub) found.push_back(name);
    }
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return sortKey(a) < sortKey(b); });
    return found;
}

std::optional<UsbRegistryEntry> SysfsUsbRegistry::build(const Key& key) {
    UsbRegistryEntry entry;
    switch (key.kind) {
    case Key::Kind::device:
        return buildDevice(key.name, true, key.address);
    case Key::Kind::rootHub: {
        const fs::path folder = devicesFolder() / key.name;
        if (!fs::exists(folder)) return std::nullopt;
        entry.className = "LinuxUSBRootHub";
        entry.superclasses = serviceClasses;
        entry.name = key.name;
        if (auto vendor = number(folder / "idVendor", 16)) entry.properties["idVendor"] = *vendor;
        if (auto product = number(folder / "idProduct", 16)) entry.properties["idProduct"] = *product;
        entry.properties["locationID"] = int64_t(std::strtol(key.name.c_str() + 3, nullptr, 10)) << 24;
        break;
    }
    case Key::Kind::host:
        if (!fs::exists(key.name)) return std::nullopt;
        entry.className = "USBHostController";
        entry.superclasses = serviceClasses;
        entry.name = fs::path(key.name).filename().string();
        break;
    case Key::Kind::interface: {
        const fs::path folder = devicesFolder() / key.name;
        auto device = deviceOfInterface(key.name);
        if (!device || !fs::exists(folder) || (!isRootHubName(*device) && addressOf(*device) != key.address))
            return std::nullopt;
        entry.className = "IOUSBHostInterface";
        entry.superclasses = serviceClasses;
        if (auto value = number(folder / "bInterfaceNumber", 16))
            entry.properties["bInterfaceNumber"] = *value;
        if (auto value = number(folder / "bInterfaceClass", 16)) entry.properties["bInterfaceClass"] = *value;
        auto name = attribute(folder / "interface");
        if (name) entry.properties["USB Interface Name"] = *name;
        for (const char* property : {"idVendor", "idProduct"}) {
            if (auto value = number(devicesFolder() / *device / property, 16))
                entry.properties[property] = *value;
        }
        entry.name = name && !name->empty() ? *name : "IOUSBHostInterface";
        break;
    }
    case Key::Kind::driver:
        if (driverOf(devicesFolder() / key.name) != key.driver) return std::nullopt;
        entry.className = key.driver;
        entry.superclasses = serviceClasses;
        entry.name = key.driver;
        break;
    case Key::Kind::userClient: {
        std::string process = procfs::processName(where.proc, key.pid);
        if (process.empty()) return std::nullopt;
        entry.className = "UsbDevFsUserClient";
        entry.superclasses = {"IOUserClient", "IOService", "IORegistryEntry"};
        entry.name = process;
        entry.properties["IOUserClientCreator"] = "pid " + std::to_string(key.pid) + ", " + process;
        break;
    }
    }
    entry.id = idFor(key);
    return entry;
}

std::vector<UsbRegistryEntry> SysfsUsbRegistry::matchingServices(const UsbMatching& matching) {
    std::vector<UsbRegistryEntry> found;
    bool devices = matching.className == "IOUSBHostDevice" || matching.className == "IOUSBDevice";
    bool interfaces = matching.className == "IOUSBHostInterface";
    if (!devices && !interfaces) return found;
    std::vector<std::string> names = listNames(devicesFolder());
    std::sort(names.begin(), names.end(),
              [](const auto& a, const auto& b) { return sortKey(a) < sortKey(b); });
    for (const std::string& name : names) {
        std::string device = name;
        if (interfaces) {
            auto owner = deviceOfInterface(name);
            if (!owner || isRootHubName(*owner)) continue;
            device = *owner;
        } else if (!isDeviceName(name)) {
            continue;
        }
        // The ids first: most devices are turned away after one small read.
        if (matching.vendor && number(devicesFolder() / device / "idVendor", 16) != matching.vendor) continue;
        if (matching.product && number(devicesFolder() / device / "idProduct", 16) != matching.product)
            continue;
        std::optional<UsbRegistryEntry> entry =
            interfaces ? build({Key::Kind::interface, name, addressOf(device)}) : buildDevice(name, false, 0);
        if (entry) found.push_back(std::move(*entry));
    }
    return found;
}

std::optional<UsbRegistryEntry> SysfsUsbRegistry::entry(uint64_t id) {
    auto key = keyFor(id);
    if (!key) return std::nullopt;
    return build(*key);
}

std::vector<UsbRegistryEntry> SysfsUsbRegistry::children(uint64_t id) {
    std::vector<UsbRegistryEntry> found;
    auto key = keyFor(id);
    if (!key || !build(*key)) return found;
    auto add = [&](const Key& child) {
        if (auto entry = build(child)) found.push_back(std::move(*entry));
    };
    switch (key->kind) {
    case Key::Kind::device: {
        for (const std::string& name : interfacesOf(key->name))
            add({Key::Kind::interface, name, key->address});
        if (auto node = deviceNode(id)) {
            for (int32_t pid : procfs::holders(where.proc, node->node.string()))
                add({Key::Kind::userClient, key->name, key->address, {}, pid});
        }
        break;
    }
    case Key::Kind::rootHub:
        for (const std::string& name : interfacesOf(key->name))
            add({Key::Kind::interface, name, 0});
        break;
    case Key::Kind::host: {
        for (const std::string& name : listNames(key->name)) {
            if (isRootHubName(name)) add({Key::Kind::rootHub, name});
        }
        break;
    }
    case Key::Kind::interface: {
        std::string driver = driverOf(devicesFolder() / key->name);
        if (!driver.empty()) add({Key::Kind::driver, key->name, key->address, driver});
        break;
    }
    case Key::Kind::driver:
        if (key->driver == "hub") {
            for (const std::string& name : devicesOnHub(*deviceOfInterface(key->name)))
                add({Key::Kind::device, name, addressOf(name)});
        }
        break;
    case Key::Kind::userClient:
        break;
    }
    return found;
}

std::optional<UsbRegistryEntry> SysfsUsbRegistry::parent(uint64_t id) {
    auto key = keyFor(id);
    if (!key || !build(*key)) return std::nullopt;
    auto hubKey = [&](const std::string& hub) -> Key {
        return isRootHubName(hub) ? Key{Key::Kind::rootHub, hub}
                                  : Key{Key::Kind::device, hub, addressOf(hub)};
    };
    switch (key->kind) {
    case Key::Kind::device: {
        const std::string& name = key->name;
        std::string hub = name.find('.') == std::string::npos ? "usb" + name.substr(0, name.find('-'))
                                                              : name.substr(0, name.rfind('.'));
        std::vector<std::string> interfaces = interfacesOf(hub);
        if (interfaces.empty()) return build(hubKey(hub));
        std::string chosen = interfaces.front();
        for (const std::string& interface : interfaces) {
            if (driverOf(devicesFolder() / interface) == "hub") chosen = interface;
        }
        int address = isRootHubName(hub) ? 0 : addressOf(hub);
        std::string driver = driverOf(devicesFolder() / chosen);
        if (driver.empty()) return build({Key::Kind::interface, chosen, address});
        return build({Key::Kind::driver, chosen, address, driver});
    }
    case Key::Kind::interface:
        return build(hubKey(*deviceOfInterface(key->name)));
    case Key::Kind::driver:
        return build({Key::Kind::interface, key->name, key->address});
    case Key::Kind::userClient:
        return build({Key::Kind::device, key->name, key->address});
    case Key::Kind::rootHub: {
        std::error_code error;
        fs::path real = fs::canonical(devicesFolder() / key->name, error);
        if (error) return std::nullopt;
        return build({Key::Kind::host, real.parent_path().string()});
    }
    case Key::Kind::host:
        return std::nullopt;
    }
    return std::nullopt;
}

std::map<std::string, UsbRegistryEntry> SysfsUsbRegistry::devices() {
    std::map<std::string, UsbRegistryEntry> found;
    for (const std::string& name : listNames(devicesFolder())) {
        if (!isDeviceName(name)) continue;
        if (auto entry = buildDevice(name, false, 0))
            found[name + "@" + std::to_string(addressOf(name))] = *entry;
    }
    return found;
}

std::optional<SysfsUsbRegistry::DeviceNode> SysfsUsbRegistry::deviceNode(uint64_t id) {
    auto key = keyFor(id);
    if (!key || key->kind != Key::Kind::device) return std::nullopt;
    const fs::path folder = devicesFolder() / key->name;
    auto bus = number(folder / "busnum", 10);
    if (!bus || addressOf(key->name) != key->address) return std::nullopt;
    char node[32];
    std::snprintf(node, sizeof node, "bus/usb/%03d/%03d", int(*bus), key->address);
    return DeviceNode{folder, where.dev / node, int(*bus), key->address};
}

uint32_t ioReturnForErrno(int error) {
    switch (error) {
    case 0:
        return IOReturn::success;
    case EACCES:
    case EPERM:
    case EROFS:
        return IOReturn::notPrivileged;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return IOReturn::noDevice;
    case EBUSY:
        return IOReturn::exclusiveAccess;
    default:
        return IOReturn::error;
    }
}

uint32_t ioReturnForLibUsb(int result) {
    switch (result) {
    case LIBUSB_SUCCESS:
        return IOReturn::success;
    case LIBUSB_ERROR_ACCESS:
        return IOReturn::notPrivileged;
    case LIBUSB_ERROR_NO_DEVICE:
        return IOReturn::noDevice;
    case LIBUSB_ERROR_BUSY:
        return IOReturn::exclusiveAccess;
    default:
        return IOReturn::error;
    }
}

} // namespace tandem
