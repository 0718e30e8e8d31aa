#pragma once

#include "base/Clock.h"
#include "platform/ScreenCapture.h"
#include "platform/sim/SimMedia.h"
#include "platform/sim/SimWindowServer.h"

#include <memory>
#include <mutex>
#include <vector>

namespace tandem {

// Simulated screen capture in virtual time: a stream paints the target process's windows (as their
// painters draw them) into the configured region of its display, scaled to the configured size, at
// the configured frame rate, and renders the process's sound every 10 ms when asked. Starting takes
// `startDelay`; permission, start failures and a stream ending by itself come on demand.
class SimScreenCapture final : public ScreenCapture {
public:
    SimScreenCapture(Clock& clock, SimWindowServer& windows);

    void addPainter(SimWindowPainter& painter);
    void addSound(SimProcessSound& sound);

    // What a test sees of the streams made so far.
    struct Record {
        ScreenCaptureTarget target;
        ScreenStreamConfiguration configuration;
        int updates = 0;
        bool running = false;
        bool stopped = false; // stop() was called
    };
    std::vector<Record> streams();
    // Ends every running stream as if the system had stopped it.
    void failRunning(const Error& error);

    bool permitted = true;
    double startDelay = 0.05;
    std::optional<Error> startFailure; // the next starts fail with it

    bool contentAvailable() override;
    std::shared_ptr<ScreenStream> makeStream(const ScreenCaptureTarget& target,
                                             const ScreenStreamConfiguration& configuration,
                                             std::shared_ptr<Queue> queue,
                                             ScreenStreamHandlers handlers) override;

    // The picture a stream of this target and configuration shows now.
    VideoFrame paint(const ScreenCaptureTarget& target, const ScreenStreamConfiguration& configuration);

    struct Shared;

private:
    std::shared_ptr<Shared> shared;
};

} // namespace tandem
