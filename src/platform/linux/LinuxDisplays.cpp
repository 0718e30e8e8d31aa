#include "platform/linux/LinuxDisplays.h"

#include "platform/linux/ProcFs.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace tandem {

namespace fs = std::filesystem;

std::optional<EdidNumbers> edidNumbers(std::span<const uint8_t> edid) {
    static const uint8_t header[8] = {0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x00};
    if (edid.size() < 128 || std::memcmp(edid.data(), header, sizeof header) != 0) return std::nullopt;
    return EdidNumbers{uint32_t(edid[8]) << 8 | edid[9], uint32_t(edid[11]) << 8 | edid[10]};
}

LinuxDisplays::LinuxDisplays(fs::path sys)
    : sys(std::move(sys)) {}

LinuxDisplays::~LinuxDisplays() {
    if (x) XCloseDisplay(x);
}

std::vector<DisplayInfo> LinuxDisplays::displays() {
    std::lock_guard guard(lock);
    if (!triedX) {
        // Only when a server is named: no attempt (and no wait) on a machine without X.
        triedX = true;
        const char* name = std::getenv("DISPLAY");
        if (name && *name) x = XOpenDisplay(nullptr);
        int event = 0, error = 0;
        if (x && !XRRQueryExtension(x, &event, &error)) {
            XCloseDisplay(x);
            x = nullptr;
        }
    }
    if (x) return xrandrDisplays();
    return drmDisplays();
}

std::vector<DisplayInfo> LinuxDisplays::xrandrDisplays() {
    std::vector<DisplayInfo> list;
    Window root = DefaultRootWindow(x);
    XRRScreenResources* resources = XRRGetScreenResourcesCurrent(x, root);
    if (!resources) return list;
    RROutput primary = XRRGetOutputPrimary(x, root);
    Atom edidAtom = XInternAtom(x, RR_PROPERTY_RANDR_EDID, True);
    for (int i = 0; i < resources->noutput; ++i) {
        RROutput output = resources->outputs[i];
        XRROutputInfo* info = XRRGetOutputInfo(x, resources, output);
        if (!info) continue;
        DisplayInfo display;
        display.id = uint32_t(output);
        display.online = info->connection == RR_Connected;
        if (info->crtc) {
            if (XRRCrtcInfo* crtc = XRRGetCrtcInfo(x, resources, info->crtc)) {
                display.active = crtc->mode != None;
                display.bounds = {double(crtc->x), double(crtc->y), double(crtc->width),
                                  double(crtc->height)};
                XRRFreeCrtcInfo(crtc);
            }
        }
        display.main = output == primary;
        if (edidAtom != None) {
            unsigned char* data = nullptr;
            Atom type = None;
            int format = 0;
            unsigned long items = 0, after = 0;
            if (XRRGetOutputProperty(x, output, edidAtom, 0, 64, False, False, AnyPropertyType, &type,
                                     &format, &items, &after, &data) == Success &&
                data) {
                if (format == 8)
                    if (auto numbers = edidNumbers({data, size_t(items)})) {
                        display.vendorNumber = numbers->vendor;
                        display.modelNumber = numbers->model;
                    }
                XFree(data);
            }
        }
        XRRFreeOutputInfo(info);
        if (display.online || display.active) list.push_back(display);
    }
    XRRFreeScreenResources(resources);
    // Without a primary output the first active one is the main display, as on a Mac.
    if (std::none_of(list.begin(), list.end(), [](const DisplayInfo& d) { return d.main; })) {
        auto first = std::find_if(list.begin(), list.end(), [](const DisplayInfo& d) { return d.active; });
        if (first != list.end()) first->main = true;
    }
    return list;
}

std::vector<DisplayInfo> LinuxDisplays::drmDisplays() {
    std::vector<DisplayInfo> list;
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(sys / "class/drm", error), end; !error && it != end; it.increment(error)) {
        std::string name = it->path().filename().string();
        // Connectors are "card0-HDMI-A-1"; "card0" itself and render nodes are not.
        if (name.rfind("card", 0) == 0 && name.find('-') != std::string::npos) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    uint32_t id = 0;
    for (const std::string& name : names) {
        ++id;
        const fs::path folder = sys / "class/drm" / name;
        auto status = procfs::readSmall(folder / "status", 64);
        if (!status || status->rfind("connected", 0) != 0) continue;
        DisplayInfo display;
        display.id = id;
        display.online = true;
        auto enabled = procfs::readSmall(folder / "enabled", 64);
        display.active = enabled && enabled->rfind("enabled", 0) == 0;
        if (auto modes = procfs::readSmall(folder / "modes", 256)) {
            unsigned width = 0, height = 0;
            if (std::sscanf(modes->c_str(), "%ux%u", &width, &height) == 2)
                display.bounds = {0, 0, double(width), double(height)};
        }
        if (auto edid = procfs::readSmall(folder / "edid", 512)) {
            auto bytes = reinterpret_cast<const uint8_t*>(edid->data());
            if (auto numbers = edidNumbers({bytes, edid->size()})) {
                display.vendorNumber = numbers->vendor;
                display.modelNumber = numbers->model;
            }
        }
        list.push_back(display);
    }
    return list;
}

} // namespace tandem
