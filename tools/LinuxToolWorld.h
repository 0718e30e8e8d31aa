#pragma once

#include "tools/ToolWorld.h"

#include <memory>
#include <string>

namespace tandem {

// This machine's services for the tools: ALSA's sequencer, sysfs and libusb, /proc, XRandR or DRM,
// /proc/asound, the journal, the clocks. The run loop ends on SIGTERM or SIGINT.
class LinuxToolMachine {
public:
    static std::unique_ptr<LinuxToolMachine> make(const std::string& program);
    virtual ~LinuxToolMachine() = default;
    virtual ToolWorld& world() = 0;
};

} // namespace tandem
