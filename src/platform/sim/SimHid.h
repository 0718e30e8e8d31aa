#pragma once

#include "platform/Hid.h"

#include <mutex>

namespace tandem {

// HID devices that tests and simulated peers plug in and out; the list answers by vendor.
class SimHid final : public Hid {
public:
    // Gives a handle for `remove`.
    int add(HidDevice device);
    bool remove(int handle);

    std::vector<HidDevice> devices(int64_t vendor) override;

private:
    std::mutex lock;
    std::vector<std::pair<int, HidDevice>> list;
    int nextHandle = 1;
};

} // namespace tandem
