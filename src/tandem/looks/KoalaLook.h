#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QStringList>

#include <array>
#include <filesystem>

// The dark look that matches Koala's own colours and type: the choice window, the Push 2's screen and
// the webcam's accents. Everything here runs on the GUI thread; the fonts need a QGuiApplication.
namespace tandem::KoalaLook {

// sRGB, as Koala and the Push's palette slots carry them, so pads, buttons and screen agree.
inline constexpr QColor pink{255, 40, 99};
inline constexpr QColor blue{0, 203, 234};
inline constexpr QColor grey{107, 98, 98};
// White at alpha 0.55, kept at 16 bits so the alpha is not rounded to 140/255 twice.
inline constexpr QColor muted{QColor::Rgb, static_cast<ushort>(0.55 * 0xffff + 0.5), 0xffff, 0xffff, 0xffff};
inline constexpr QColor background{45, 39, 39};
inline constexpr QColor foreground{255, 255, 255};

// One colour per pad bank A-D.
inline constexpr std::array<QColor, 4> banks() {
    return {blue, blue, blue, blue};
}
// The colour of a bank by number; numbers outside 0-3 take the nearest bank.
QColor bank(int number);

// Where Koala is when the workspace does not know, and its font inside the application.
inline const std::filesystem::path defaultKoalaLocation = "/Applications/koala.app";
inline const std::filesystem::path koalaFontFile = "Contents/Resources/data/font/Dosis-Medium.ttf";

// The application calls this once at start with Koala's location as its workspace resolves it.
void useKoalaAt(std::filesystem::path location);
std::filesystem::path koalaLocation();

// Registers Koala's font file inside the application at `location` with this process's font database
// and returns the family Qt names it; empty when the file is missing or unreadable. Each location's
// file is registered at most once per process and its answer kept.
QString registerKoalaFont(const std::filesystem::path& location);

// The rounded faces that stand in for Koala's when its file is missing, in order of preference: Debian
// ships Dosis itself (fonts-dosis).
inline const QStringList roundedFamilies = {QStringLiteral("Dosis")};
// Whether Qt's font database holds a medium-weight face of the family.
bool hasMediumFace(const QString& family);

struct FontChoice {
    enum class Source { koala, rounded, system };
    Source source = Source::system;
    QString family; // empty for the system font
    // Pixels of the drawing surface: Qt would turn points on a 96-dpi image into 4/3 as many pixels.
    int pixelSize = 0;
    bool operator==(const FontChoice&) const = default;
};

// Which face `font` uses: Koala's registered family when there is one, else the first rounded family
// that offers a medium face (`withMedium`), else the system font; always medium weight.
FontChoice chooseFont(double size, const QString& koalaFamily, const QStringList& withMedium);
// The font for a choice, medium weight; the system font comes from `QFontDatabase::systemFont`.
QFont makeFont(const FontChoice& choice);
// Koala's type at `size` frame pixels, registering Koala's font on first use.
QFont font(double size);

} // namespace tandem::KoalaLook
