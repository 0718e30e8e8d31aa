#pragma once

#include "base/Error.h"
#include "tandem/push/KoalaView.h"

#include <QImage>
#include <QSize>

#include <filesystem>
#include <string>
#include <vector>

// The artwork jobs of the command line ("--render-card", "--render-icon", "--render-installer-art",
// "--render-controls", "--render-push"). Each draws with QtGui only, so it runs on a QGuiApplication
// without a display, and either completes or fails with an Error whose `description` is shown to the
// user as it is. Files already written by a failed job stay where they are. GUI thread only.
namespace tandem::RenderJobs {

inline constexpr QSize cardSize{1280, 800};
inline constexpr const char* cardStatus = "MPC touch ready · starting its controls…";

// A status card of 1280 × 800 showing `cardStatus`, as a PNG file.
Result<void> renderCard(const std::filesystem::path& file);
// The application icon set: creates the folder with its parents and writes "icon_" + name + ".png"
// for each entry of TandemArtwork::iconSet at its exact size.
Result<void> renderIcons(const std::filesystem::path& folder);
// "background.png" and "background-dark.png" for the installer, into the folder (made when missing).
Result<void> renderInstallerArt(const std::filesystem::path& folder);
// The touch overlay's preview picture.
Result<void> renderControls(const std::filesystem::path& file);
// The Push 2's screen for every page of a fixed session, one 960 × 160 PNG each, into the folder
// (made when missing).
Result<void> renderPush(const std::filesystem::path& folder);

// One page of the Push preview: its file name and what the controller shows there.
struct PushPage {
    std::string file;
    KoalaView view;
};
// The views of a real controller holding a fixed song, in file order: the pad page with its sample's
// waveform, EQ, FX, mixer, the sequence page with its pattern, and the keyboard choosing a pad.
std::vector<PushPage> pushPages();

// Writes `image` as PNG. A null image (no bitmap could be made) fails as a write does, with the file
// named in its `description`.
Result<void> writePng(const QImage& image, const std::filesystem::path& file);
// Makes a folder and its parents; an existing folder is fine.
Result<void> makeFolder(const std::filesystem::path& folder);

} // namespace tandem::RenderJobs
