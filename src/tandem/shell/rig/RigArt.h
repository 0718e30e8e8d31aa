#pragma once

#include "tandem/shell/rig/RigGeometry.h"

#include <QColor>
#include <QImage>
#include <QRectF>
#include <QSize>

#include <array>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

class QPainter;

namespace tandem {
class SimulatedMac;
class SimKoala;
class SimMpcTouch;
class SimPush2;
class SimPush2Display;
} // namespace tandem

// Pictures of the simulated Mac's state, for the rig window and the demo: the screens with what lies
// on them (Koala's window as a schematic of its screen, the status cards, the overlay's panels), the
// MPC Touch and the Push 2 with their lights, and the Push's decoded display. Everything reads the rig
// and changes nothing; QtGui only, on the GUI thread (the thread that runs the rig's time).
namespace tandem::RigArt {

// What Koala's screen shows, read from the simulated Koala.
struct KoalaScreen {
    std::string page = "sample"; // "sample", "sequence", "perform" or "settings"
    int bank = 0;                // the bank its pad page shows, 0-3
    bool mixerOpen = false;
    bool keyboardOn = false;
    bool fullScreen = false;
    std::array<bool, 64> loaded{}; // pads holding a sample
    bool operator==(const KoalaScreen&) const = default;
};
KoalaScreen koalaScreen(SimKoala& koala);

// Colours the art uses, for the pictures' readers.
inline constexpr QColor desktop{58, 74, 92};    // a screen's bare background
inline constexpr QColor unlit{52, 50, 50};      // a control whose light is off or never set
inline constexpr QColor mpcLit{238, 52, 46};    // an MPC button light that is on
inline constexpr QColor padHeld{250, 250, 250}; // a pad held down from the rig

// The screens as they are arranged, scaled into `bounds` less this margin, each with what lies on it;
// `RigGeometry::layoutScreens` with the same margin tells where each one went.
inline constexpr double screensMargin = 8;
void drawScreens(QPainter& painter, const QRectF& bounds, SimulatedMac& mac);
// One screen filling its area: its background, Koala's window, the cards and the visible panels, in
// that order from the back (cards and panels float over every application).
void drawScreen(QPainter& painter, const RigGeometry::ScreenArea& area, SimulatedMac& mac);
// Koala's screen as a schematic filling `window`: page tabs with the shown page lit, the 4 × 4 pads of
// the sample page, the keyboard button on the sequence page, banks A-D with the shown one lit, MIXER,
// and a title bar when windowed or a full-screen mark when full screen.
void drawKoala(QPainter& painter, const QRectF& window, const KoalaScreen& screen);

// The MPC Touch: its pads (held ones white) and its buttons lit by the last value they received.
void drawMpcTouch(QPainter& painter, const QRectF& bounds, const SimMpcTouch& mpc,
                  const std::set<int>& heldPads = {});
// The colour of a light value on the MPC: off or never set is `unlit`.
QColor mpcLight(int value);

// The Push 2: the decoded display, the 64 pads in their LED colours (held ones outlined), the buttons
// lit and the encoders.
void drawPush2(QPainter& painter, const QRectF& bounds, const SimPush2& push, const SimPush2Display& display,
               const std::set<int>& heldPads = {});
// A pad's LED colour: the palette entry the Push holds for its velocity; `unlit` when never set or 0.
QColor push2PadColor(const SimPush2& push, int index);
// A button's LED colour: a palette colour for RGB buttons, a white brightness for the others.
QColor push2ButtonColor(const SimPush2& push, int cc);

// One RGB565 pixel as the Push shows it: red in the low 5 bits, then 6 of green, then 5 of blue.
QColor push2Pixel(uint16_t pixel);
// The display's decoded frame as a 960 × 160 picture; a null image when the frame has another size.
QImage push2Frame(const std::vector<uint16_t>& pixels);

// The MPC Touch's screen alone at `size`; a dark picture saying so when the screen is unplugged.
QImage mpcScreen(SimulatedMac& mac, QSize size);

} // namespace tandem::RigArt
