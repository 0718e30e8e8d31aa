#pragma once

#include "platform/Screens.h"

#include <filesystem>
#include <string>

namespace tandem {

// The screens as Qt's QGuiApplication knows them, the primary first. Frames are converted from Qt's
// virtual desktop (y down) to global coordinates (y up from the primary's bottom-left), in Qt's
// device-independent pixels. A screen's number is a hash of its output name ("HDMI-1"), so it stays
// the same while that output is attached, whatever the order of the list. Its UUID comes from the
// output's EDID under /sys/class/drm (the connector "card<n>-<name>", or with DRM's "-A" type letter
// that X leaves out, as "HDMI-A-1" for "HDMI-1"): two 64-bit FNV-1a hashes of the EDID bytes make a
// version 8 UUID; without an EDID there is none.
//
// Qt's screen list belongs to the application's thread: call `screens` there. Change notices
// (a screen added or removed, the primary changed, a geometry changed) are gathered while one is
// waiting on the queue, so one change of layout brings one call.
//
// Without a QGuiApplication there are no screens and the token of `observeChanges` never fires. On
// Qt's offscreen platform (a program without a display) the list is that platform's one made-up
// screen, at the origin, with no output behind it and so no UUID.
class QtScreens final : public Screens {
public:
    explicit QtScreens(std::filesystem::path drm = "/sys/class/drm");

    std::vector<Screen> screens() override;
    ObservationToken observeChanges(std::shared_ptr<Queue> queue, std::function<void()> handler) override;

    // FNV-1a, 32 bits.
    static uint32_t numberFor(const std::string& outputName);
    // The UUID for these EDID bytes; nothing when they are too short to be an EDID (128 bytes).
    static std::optional<std::string> uuidFor(const std::string& edid);
    // A rectangle of Qt's virtual desktop (y down) in global coordinates, given the primary screen's.
    static Rect global(const Rect& virtualRect, const Rect& primary);
    // The EDID file of an output under `drm`, when there is one.
    static std::optional<std::filesystem::path> edidFile(const std::filesystem::path& drm,
                                                         const std::string& outputName);

private:
    std::filesystem::path drm;
};

} // namespace tandem
