#include "platform/sim/SimRig.h"

#include "base/FileSystem.h"

namespace tandem {

SimRig::SimRig(const std::filesystem::path& scratch)
    : processes(time, scratch / "tmp")
    , resourceFolder(scratch / "resources") {
    // Koala is seen and heard by the capture adapters.
    screenCapture.addPainter(koala);
    screenCapture.addSound(koala);
    audioTaps.addSound(koala);
    cameras.add({{"0x8020000005ac8514", "FaceTime HD Camera", CameraKind::builtInWideAngle}, 1280, 720});
    microphones.add({"BuiltInMicrophoneDevice", "MacBook Pro Microphone"});
    audioOutputs.add({1, "BuiltInSpeakerDevice", "MacBook Pro Speakers"});
    FileSystem& disk = FileSystem::local();
    (void)disk.createDirectories(scratch / "tmp");
    (void)disk.createDirectories(resourceFolder / "GlassbridgeDriver");
    (void)disk.writeFile(resourceFolder / "GlassbridgeDriver" / "glassbridge", "#!glassbridge\n");
    (void)disk.writeFile(resourceFolder / "install-for-user.sh",
                         "#!/bin/zsh\n# installs glassbridge from $INKWELL_SOURCE for this user\n");
    // Koala lives in the rig's own Applications folder, with its font inside as on a Mac (Debian's
    // Dosis Medium under Koala's file name: the font loader reads the content, not the name).
    koala.options.location = scratch / "Applications" / "koala.app";
    const auto fontFolder = koala.options.location / "Contents/Resources/data/font";
    (void)disk.createDirectories(fontFolder);
    std::error_code ignored;
    std::filesystem::copy_file("/usr/share/fonts/opentype/dosis/Dosis-Medium.otf", fontFolder / "Dosis-Medium.ttf",
                               std::filesystem::copy_options::overwrite_existing, ignored);
    screens.add(SimScreens::mainScreen());
    processes.setLiveness([this](int32_t process) {
        auto application = workspace.application(process);
        return application && !application->terminated && !workspace.hasVanished(process);
    });
    // What Koala writes, its folder watchers hear.
    koala.onFolderChanged = [this](const std::filesystem::path& folder) { folders.changed(folder); };
}

SimRig::~SimRig() = default;

void SimRig::placeMpcScreen(MpcScreen where) {
    const uint32_t number = *SimScreens::mpcTouchScreen({}).number;
    if (where == MpcScreen::none) {
        screens.remove(number);
        return;
    }
    // Global coordinates, y up: left of the main screen along its bottom, or above it.
    Rect frame = where == MpcScreen::leftOfMain ? Rect{-1280, 0, 1280, 800} : Rect{0, 900, 1280, 800};
    if (!screens.setFrame(number, frame)) screens.add(SimScreens::mpcTouchScreen(frame));
}

std::optional<Screen> SimRig::mpcScreen() {
    for (const Screen& screen : screens.screens()) {
        if (screen.number == SimScreens::mpcTouchScreen({}).number) return screen;
    }
    return std::nullopt;
}

Rect SimRig::mpcDisplayRect() {
    auto screen = mpcScreen();
    return screen ? displayRect(screen->frame, screens.screens()) : Rect{};
}

Point SimRig::mpcPoint(double fx, double fy) {
    Rect rect = mpcDisplayRect();
    return {rect.x + fx * rect.width, rect.y + fy * rect.height};
}

} // namespace tandem
