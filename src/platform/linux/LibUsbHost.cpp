#include "platform/linux/LibUsbHost.h"

#include <libusb.h>

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

LibUsbHost::LibUsbHost() {
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

} // namespace tandem
