#pragma once

#include <cstdint>
#include <memory>
#include <span>

namespace tandem {

// Results of USB calls, in the system's terms (IOKit's returns map onto these).
enum class UsbStatus {
    success,
    notFound,        // no matching device or interface
    exclusiveAccess, // held exclusively by another process
    pipeStalled,
    timeout,
    noDevice, // the device went away
    failure,  // anything else
};

struct UsbPipeProperties {
    int direction = 0;    // 0 = out (host to device), 1 = in
    int transferType = 0; // 0 control, 1 isochronous, 2 bulk, 3 interrupt
    int number = 0;       // endpoint number 0-15
};

// One interface of a USB device, found but not necessarily open. Pipe references count from 1.
class UsbInterface {
public:
    virtual ~UsbInterface() = default;

    virtual UsbStatus open() = 0;
    virtual void close() = 0;
    virtual int numberOfEndpoints() = 0;
    virtual UsbStatus pipeProperties(int pipe, UsbPipeProperties* properties) = 0;
    // A bulk or interrupt write; `noDataTimeout` bounds a stall between bytes, `completionTimeout` the
    // whole transfer (milliseconds).
    virtual UsbStatus writePipe(int pipe, std::span<const uint8_t> bytes, uint32_t noDataTimeout,
                                uint32_t completionTimeout) = 0;
    virtual UsbStatus clearPipeStallBothEnds(int pipe) = 0;
};

// What the system asks of the platform's USB host.
class UsbHost {
public:
    virtual ~UsbHost() = default;

    // The interface with that number in that configuration of the first matching device.
    // `status` is notFound when nothing matches, failure when a match could not be reached.
    struct Found {
        std::unique_ptr<UsbInterface> interface;
        UsbStatus status = UsbStatus::notFound;
    };
    virtual Found findInterface(uint16_t vendor, uint16_t product, int configuration,
                                int interfaceNumber) = 0;
};

} // namespace tandem
