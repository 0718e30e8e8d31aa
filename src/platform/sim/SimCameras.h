#pragma once

#include "base/Clock.h"
#include "base/Queue.h"
#include "platform/Cameras.h"

#include <memory>
#include <mutex>
#include <vector>

namespace tandem {

// Simulated cameras in virtual time. A started camera delivers 30 frames a second of a test pattern:
// the frame number as a strip of 32 bits across the top (bit 0 leftmost, white = 1), an asymmetric
// marker (a red square left of centre in the upper half, a small blue one right of centre in the
// lower half) on grey, and a white flash on demand. Devices can be absent, in use, denied or give
// nothing readable; as with a video device, an opened camera is busy for any other open until stopped.
class SimCameras final : public Cameras {
public:
    enum class Behaviour { ready, inUse, denied, unreadable };
    struct Device {
        CameraDevice device;
        int width = 1280;
        int height = 720;
        Behaviour behaviour = Behaviour::ready;
    };

    // Frames are made on `queue` and stamped by `clock`.
    SimCameras(Clock& clock, std::shared_ptr<Queue> queue);

    void add(Device device);
    void remove(const std::string& uniqueID);
    void setBehaviour(const std::string& uniqueID, Behaviour behaviour);
    // The next frame of every running camera is white.
    void flash();
    // The times of the white frames delivered so far, oldest first.
    std::vector<double> flashes();
    // Cameras started and not stopped.
    int running();

    // The pattern of frame `number`, for tests that check what arrived.
    static VideoFrame pattern(int width, int height, uint64_t number, bool flash, double time);
    // Reads the bit strip back; nothing when the frame carries none.
    static std::optional<uint64_t> frameNumber(const VideoFrame& frame);

    std::vector<CameraDevice> devices() override;
    Result<std::shared_ptr<Camera>> open(const CameraDevice& device) override;

    struct Shared;

private:
    std::shared_ptr<Shared> shared;
};

} // namespace tandem
