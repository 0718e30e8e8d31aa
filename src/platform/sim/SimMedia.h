#pragma once

#include "platform/Geometry.h"
#include "platform/SampleBuffer.h"
#include "platform/VideoFrame.h"

#include <cstdint>
#include <optional>

namespace tandem {

// A simulated application's sound as the sound system hears it: known to it only once it has played
// something, then rendered on demand for any stretch of host time.
class SimProcessSound {
public:
    virtual ~SimProcessSound() = default;
    virtual bool sounded(int32_t process) = 0;
    // Adds the process's sound from `buffer.time` on into `buffer` (float, any layout and channels).
    virtual void render(int32_t process, SampleBuffer& buffer) = 0;
};

// A simulated application's windows as pictures, drawn at the size asked for.
class SimWindowPainter {
public:
    virtual ~SimWindowPainter() = default;
    // Nothing when the window is not this painter's.
    virtual std::optional<VideoFrame> windowPicture(uint32_t window, int width, int height) = 0;
};

} // namespace tandem
