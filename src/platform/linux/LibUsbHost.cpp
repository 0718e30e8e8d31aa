#include "platform/linux/LibUsbHost.h"

#include "platform/linux/ProcFs.h"
#include "platform/linux/Subscription.h"

#include <fcntl.h>
#include <libusb.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>
#include <vector>

namespace tandem {

UsbStatus libUsbStatus(int error) {
    switch (error) {
    case LIBUSB_SUCCESS:
        return UsbStatus::success;
    case LIBUSB_ERROR_BUSY:
        return UsbStatus::exclusiveAccess;
    case LIBUSB_ERROR_PIPE:
        return UsbStatus::pipeStalled;
    case LIBUSB_ERROR_TIMEOUT:
        return UsbStatus::timeout;
    case LIBUSB_ERROR_NO_DEVICE:
        return UsbStatus::noDevice;
    case LIBUSB_ERROR_NOT_FOUND:
        return UsbStatus::notFound;
    default:
        return UsbStatus::failure;
    }
}

namespace {

struct Endpoint {
    uint8_t address;
    uint8_t attributes;
};

class LibUsbInterface final : public UsbInterface {
public:
    LibUsbInterface(libusb_device* device, int number, std::vector<Endpoint> endpoints)
        : device(libusb_ref_device(device))
        , number(number)
        , endpoints(std::move(endpoints)) {}
    ~LibUsbInterface() override {
        close();
        libusb_unref_device(device);
    }

    UsbStatus open() override {
        if (handle) return UsbStatus::success;
        int result = libusb_open(device, &handle);
        if (result != LIBUSB_SUCCESS) {
            handle = nullptr;
            return libUsbStatus(result);
        }
        // A kernel driver bound to the interface is another holder: it is left alone (BUSY, "in use").
        result = libusb_claim_interface(handle, number);
        if (result != LIBUSB_SUCCESS) {
            libusb_close(handle);
            handle = nullptr;
            return libUsbStatus(result);
        }
        return UsbStatus::success;
    }

    void close() override {
        if (!handle) return;
        libusb_release_interface(handle, number);
        libusb_close(handle);
        handle = nullptr;
    }

    int numberOfEndpoints() override { return int(endpoints.size()); }

    UsbStatus pipeProperties(int pipe, UsbPipeProperties* properties) override {
        if (!handle || pipe < 1 || pipe > int(endpoints.size())) return UsbStatus::failure;
        const Endpoint& endpoint = endpoints[pipe - 1];
        properties->direction = (endpoint.address & LIBUSB_ENDPOINT_IN) ? 1 : 0;
        properties->transferType = endpoint.attributes & LIBUSB_TRANSFER_TYPE_MASK;
        properties->number = endpoint.address & LIBUSB_ENDPOINT_ADDRESS_MASK;
        return UsbStatus::success;
    }

    // libusb has one time-out per transfer; the completion time-out bounds it.
    UsbStatus writePipe(int pipe, std::span<const uint8_t> bytes, uint32_t,
                        uint32_t completionTimeout) override {
        if (!handle || pipe < 1 || pipe > int(endpoints.size())) return UsbStatus::failure;
        int sent = 0;
        int result =
            libusb_bulk_transfer(handle, endpoints[pipe - 1].address, const_cast<uint8_t*>(bytes.data()),
                                 int(bytes.size()), &sent, completionTimeout);
        if (result == LIBUSB_SUCCESS && sent != int(bytes.size())) return UsbStatus::failure;
        return libUsbStatus(result);
    }

    UsbStatus clearPipeStallBothEnds(int pipe) override {
        if (!handle || pipe < 1 || pipe > int(endpoints.size())) return UsbStatus::failure;
        return libUsbStatus(libusb_clear_halt(handle, endpoints[pipe - 1].address));
    }

private:
    libusb_device* device;
    int number;
    std::vector<Endpoint> endpoints;
    libusb_device_handle* handle = nullptr;
};

} // namespace

LibUsbHost::LibUsbHost()
    : LibUsbHost(UsbRoots{}) {}

LibUsbHost::LibUsbHost(UsbRoots roots, bool hotplugNotices)
    : registry(std::make_shared<SysfsUsbRegistry>(std::move(roots)))
    , hotplugNotices(hotplugNotices) {
    if (libusb_init(&context) != LIBUSB_SUCCESS) context = nullptr;
}

LibUsbHost::~LibUsbHost() {
    if (context) libusb_exit(context);
}

UsbHost::Found LibUsbHost::findInterface(uint16_t vendor, uint16_t product, int configuration,
                                         int interfaceNumber) {
    if (!context) return {nullptr, UsbStatus::notFound};
    libusb_device** list = nullptr;
    ssize_t count = libusb_get_device_list(context, &list);
    if (count < 0) return {nullptr, UsbStatus::notFound};
    Found found{nullptr, UsbStatus::notFound};
    for (ssize_t i = 0; i < count && !found.interface; ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(list[i], &descriptor) != LIBUSB_SUCCESS) continue;
        if (descriptor.idVendor != vendor || descriptor.idProduct != product) continue;
        libusb_config_descriptor* config = nullptr;
        if (libusb_get_active_config_descriptor(list[i], &config) != LIBUSB_SUCCESS) {
            found.status = UsbStatus::failure;
            continue;
        }
        if (config->bConfigurationValue == configuration) {
            for (int n = 0; n < config->bNumInterfaces; ++n) {
                const libusb_interface& interface = config->interface[n];
                if (interface.num_altsetting < 1 ||
                    interface.altsetting[0].bInterfaceNumber != interfaceNumber)
                    continue;
                std::vector<Endpoint> endpoints;
                const libusb_interface_descriptor& setting = interface.altsetting[0];
                for (int e = 0; e < setting.bNumEndpoints; ++e) {
                    endpoints.push_back(
                        {setting.endpoint[e].bEndpointAddress, setting.endpoint[e].bmAttributes});
                }
                found = {std::make_unique<LibUsbInterface>(list[i], interfaceNumber, std::move(endpoints)),
                         UsbStatus::success};
                break;
            }
        }
        libusb_free_config_descriptor(config);
    }
    libusb_free_device_list(list, 1);
    return found;
}

std::vector<UsbRegistryEntry> LibUsbHost::matchingServices(const UsbMatching& matching) {
    return registry->matchingServices(matching);
}

std::optional<UsbRegistryEntry> LibUsbHost::entry(uint64_t id) {
    return registry->entry(id);
}

std::vector<UsbRegistryEntry> LibUsbHost::children(uint64_t id) {
    return registry->children(id);
}

std::optional<UsbRegistryEntry> LibUsbHost::parent(uint64_t id) {
    return registry->parent(id);
}

namespace {

// What one observer saw last, compared with sysfs at each look.
class DeviceWatchState : public std::enable_shared_from_this<DeviceWatchState> {
public:
    DeviceWatchState(std::shared_ptr<SysfsUsbRegistry> registry, std::shared_ptr<Queue> queue,
                     std::function<void(const UsbDeviceNotice&)> handler)
        : registry(std::move(registry))
        , queue(queue)
        , subscription(std::make_shared<Subscription<UsbDeviceNotice>>(
              queue, [handler = std::move(handler)](UsbDeviceNotice notice) { handler(notice); }))
        , known(this->registry->devices()) {}

    void look() {
        std::lock_guard guard(lock);
        auto now = registry->devices();
        for (const auto& [key, entry] : known) {
            if (!now.count(key)) subscription->deliver({false, entry});
        }
        for (const auto& [key, entry] : now) {
            if (!known.count(key)) subscription->deliver({true, entry});
        }
        known = std::move(now);
    }

    // From libusb's event thread: the look itself runs on the observer's queue.
    void lookSoon() {
        queue->async([weak = weak_from_this()] {
            if (auto self = weak.lock()) self->look();
        });
    }

    void end() { subscription->end(); }

private:
    std::shared_ptr<SysfsUsbRegistry> registry;
    std::shared_ptr<Queue> queue;
    std::shared_ptr<Subscription<UsbDeviceNotice>> subscription;
    std::mutex lock;
    std::map<std::string, UsbRegistryEntry> known;
};

int hotplugEvent(libusb_context*, libusb_device*, libusb_hotplug_event, void* data) {
    static_cast<DeviceWatchState*>(data)->lookSoon();
    return 0; // stay registered
}

class DeviceWatch final : public Observation {
public:
    DeviceWatch(std::shared_ptr<DeviceWatchState> state, libusb_context* context)
        : state(std::move(state))
        , context(context) {}

    // libusb's hotplug events, handled on a thread of the watch's own.
    bool startHotplug() {
        if (!context || !libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) return false;
        int result = libusb_hotplug_register_callback(
            context, libusb_hotplug_event(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
            libusb_hotplug_flag(0), LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
            hotplugEvent, state.get(), &handle);
        if (result != LIBUSB_SUCCESS) return false;
        registered = true;
        events = std::thread([this] {
            while (!stopping) {
                timeval wait{0, 200000};
                libusb_handle_events_timeout_completed(context, &wait, nullptr);
            }
        });
        return true;
    }

    void startPolling(Queue& queue) {
        timer = queue.timer(1, 1, [weak = std::weak_ptr<DeviceWatchState>(state)] {
            if (auto self = weak.lock()) self->look();
        });
    }

    ~DeviceWatch() override {
        state->end();
        if (timer) timer->cancel();
        if (registered) {
            stopping = true;
            // Deregistering wakes the event thread.
            libusb_hotplug_deregister_callback(context, handle);
            events.join();
        }
    }

private:
    std::shared_ptr<DeviceWatchState> state;
    libusb_context* context;
    libusb_hotplug_callback_handle handle = 0;
    bool registered = false;
    std::atomic<bool> stopping{false};
    std::thread events;
    std::unique_ptr<Timer> timer;
};

constexpr uint32_t notOpen = 0xe00002cd; // kIOReturnNotOpen

class SysfsDeviceInterface final : public UsbDeviceInterface {
public:
    SysfsDeviceInterface(std::shared_ptr<SysfsUsbRegistry> registry, uint64_t id, libusb_context* context)
        : registry(std::move(registry))
        , id(id)
        , context(context) {}

    uint32_t open() override {
        auto node = registry->deviceNode(id);
        if (!node) return IOReturn::noDevice;
        for (int32_t pid : procfs::holders(registry->roots().proc, node->node.string())) {
            if (pid != ::getpid()) return IOReturn::exclusiveAccess;
        }
        return opening(*node);
    }

    uint32_t openSeize() override {
        auto node = registry->deviceNode(id);
        if (!node) return IOReturn::noDevice;
        return opening(*node);
    }

    uint32_t reEnumerate(uint32_t) override {
        if (!opened) return notOpen;
        auto node = registry->deviceNode(id);
        if (!node) return IOReturn::noDevice;
        int error = authorize(node->folder, "0");
        if (error == 0) {
            // A device left de-authorized is as good as unplugged: insist a little on bringing it back.
            for (int attempt = 0; attempt < 3; ++attempt) {
                error = authorize(node->folder, "1");
                if (error == 0) break;
                ::usleep(100000);
            }
            return ioReturnForErrno(error);
        }
        if (ioReturnForErrno(error) != IOReturn::notPrivileged) return ioReturnForErrno(error);
        return reset(*node);
    }

    uint32_t close() override {
        opened = false;
        return IOReturn::success;
    }

private:
    uint32_t opening(const SysfsUsbRegistry::DeviceNode& node) {
        bool mayAuthorize = ::access((node.folder / "authorized").c_str(), W_OK) == 0;
        bool mayReset = ::access(node.node.c_str(), W_OK) == 0;
        if (!mayAuthorize && !mayReset) return IOReturn::notPrivileged;
        opened = true;
        return IOReturn::success;
    }

    static int authorize(const std::filesystem::path& folder, const char* value) {
        int fd = ::open((folder / "authorized").c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) return errno;
        ssize_t written;
        do {
            written = ::write(fd, value, 1);
        } while (written < 0 && errno == EINTR);
        int error = written == 1 ? 0 : errno;
        ::close(fd);
        return error;
    }

    uint32_t reset(const SysfsUsbRegistry::DeviceNode& node) {
        if (!context) return IOReturn::notPrivileged;
        libusb_device** list = nullptr;
        ssize_t count = libusb_get_device_list(context, &list);
        libusb_device* device = nullptr;
        for (ssize_t i = 0; i < count; ++i) {
            if (libusb_get_bus_number(list[i]) == node.bus && libusb_get_device_address(list[i]) == node.address)
                device = list[i];
        }
        uint32_t status = IOReturn::noDevice;
        libusb_device_handle* handle = nullptr;
        if (device) {
            int result = libusb_open(device, &handle);
            if (result == LIBUSB_SUCCESS) {
                result = libusb_reset_device(handle);
                // A reset after which the device had to be enumerated anew: what was asked for.
                if (result == LIBUSB_ERROR_NOT_FOUND) result = LIBUSB_SUCCESS;
                libusb_close(handle);
            }
            status = ioReturnForLibUsb(result);
        }
        if (count >= 0) libusb_free_device_list(list, 1);
        return status;
    }

    std::shared_ptr<SysfsUsbRegistry> registry;
    uint64_t id;
    libusb_context* context;
    bool opened = false;
};

} // namespace

ObservationToken LibUsbHost::observeDevices(std::shared_ptr<Queue> queue,
                                            std::function<void(const UsbDeviceNotice&)> handler) {
    auto state = std::make_shared<DeviceWatchState>(registry, queue, std::move(handler));
    auto watch = std::make_unique<DeviceWatch>(state, context);
    if (!hotplugNotices || !watch->startHotplug()) watch->startPolling(*queue);
    return watch;
}

std::unique_ptr<UsbDeviceInterface> LibUsbHost::deviceInterface(uint64_t id) {
    if (!registry->deviceNode(id)) return nullptr;
    return std::make_unique<SysfsDeviceInterface>(registry, id, context);
}

} // namespace tandem
