#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QSize>

#include <array>
#include <string_view>

class QPainter;

// Tandem's own pictures in the light look: the application icon and the installer's backgrounds.
// Drawn with QtGui only, on the GUI thread (the hand-lettered type needs a QGuiApplication).
namespace tandem::TandemArtwork {

// The icon is one design on a 1024-unit canvas; every size is that design scaled by pixels ÷ 1024.
inline constexpr double iconCanvas = 1024;

// The icon's body (the rounded square, with room around it for its shadow, as macOS icons have) and
// its four pads, in canvas units, y down. Pad 0 (top left) is the one being hit, in Koala's pink;
// pad 3 (bottom right) is marked with the highlighter.
inline constexpr QRectF iconBody{100, 100, 824, 824};
inline constexpr double iconBodyRadius = 185;
QRectF iconPad(int index);

// Draws the icon onto `painter` with the canvas filling `pixels` × `pixels` from the origin.
void drawIcon(QPainter& painter, double pixels);
// The icon alone, `pixels` square, transparent around the body; null for a size below 1.
QImage icon(int pixels);
// The icon at the sizes a window system asks for, for windows and the status item.
QIcon applicationIcon();

// The icon set's entries as the system names them, with their sizes in pixels.
struct IconSize {
    std::string_view name;
    int pixels;
};
inline constexpr std::array<IconSize, 10> iconSet{{
    {"16x16", 16},
    {"16x16@2x", 32},
    {"32x32", 32},
    {"32x32@2x", 64},
    {"128x128", 128},
    {"128x128@2x", 256},
    {"256x256", 256},
    {"256x256@2x", 512},
    {"512x512", 512},
    {"512x512@2x", 1024},
}};

// The installer window's background: the application on the left, an arrow, the Applications folder
// on the right, drawn for the window's content size. The installer puts the two icons' centres at
// `installerApplication` and `installerApplications` (y down).
enum class Appearance { light, dark };
inline constexpr QSize installerSize{660, 400};
inline constexpr QPointF installerApplication{170, 200};
inline constexpr QPointF installerApplications{490, 200};
// The ground of the dark background: the light look's ink, deepened.
inline constexpr QColor nightBackdrop{QColor::Rgb, 0xffff, 0x1230, 0x1920, 0x2110};

void drawInstallerBackground(QPainter& painter, Appearance appearance);
QImage installerBackground(Appearance appearance);

} // namespace tandem::TandemArtwork
