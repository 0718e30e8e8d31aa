#pragma once

#include "platform/Geometry.h"
#include "platform/Screens.h"

#include <QPointF>
#include <QRectF>

#include <array>
#include <optional>
#include <vector>

// Where things lie in the rig's pictures: the simulated screens scaled into a view, Koala's own
// buttons on its schematic, and the controls of the MPC Touch and the Push 2. The art draws with these
// rectangles and the rig window hit-tests with the same ones, so a click lands on what is drawn.
namespace tandem::RigGeometry {

// One screen's global frame (origin bottom-left of the first screen, y up) laid onto a rectangle of
// a y-down view.
struct ScreenArea {
    Screen screen;
    QRectF area;

    double scale() const { return screen.frame.width > 0 ? area.width() / screen.frame.width : 0; }
    QPointF toView(Point global) const;
    QRectF toView(const Rect& global) const;
    Point toGlobal(QPointF view) const;
};

// The screens as they are arranged, scaled uniformly to fit `bounds` less `margin` on every side and
// centred in it; in the order given.
std::vector<ScreenArea> layoutScreens(const std::vector<Screen>& screens, const QRectF& bounds,
                                      double margin = 0);
// One screen filling `bounds` (the MPC screen's picture alone).
ScreenArea fillScreen(const Screen& screen, const QRectF& bounds);
// The area under a view point, if any.
const ScreenArea* screenAt(const std::vector<ScreenArea>& areas, QPointF view);

// Display coordinates (origin top-left of the first screen, y down) to global ones and back.
Rect globalFromDisplay(const Rect& display, const std::vector<Screen>& screens);
Point displayFromGlobal(Point global, const std::vector<Screen>& screens);

// Koala's screen, in the fractions its own layout uses (measured on a 1280 × 800 window; x from the
// left edge, y from the top edge of the window).
namespace Koala {
inline constexpr double tabHeight = 0.13;
struct Tab {
    double from, to;
    const char* page;  // as SimKoala names it
    const char* title; // as Koala prints it
};
inline constexpr std::array<Tab, 4> tabs{{{0.255, 0.383, "sample", "SAMPLE"},
                                          {0.383, 0.533, "sequence", "SEQUENCE"},
                                          {0.533, 0.675, "perform", "PERFORM"},
                                          {0.675, 0.76, "settings", "SETTINGS"}}};
inline constexpr std::array<double, 4> bankCentres{579.0 / 1280, 616.0 / 1280, 653.0 / 1280, 690.0 / 1280};
inline constexpr double mixerCentre = 1036.0 / 1280;
inline constexpr double buttonRow = 769.0 / 800;
// The keyboard button of the sequence page.
inline constexpr double keyboardLeft = 0.265, keyboardRight = 0.343, keyboardTop = 0.465,
                        keyboardBottom = 0.523;

QRectF tab(const QRectF& window, size_t index);
// A bank button A-D (0-3), 32 × 24 on a 1280 × 800 window, centred where Koala's button is.
QRectF bankButton(const QRectF& window, int bank);
QRectF mixerButton(const QRectF& window);
QRectF keyboardButton(const QRectF& window);
// The sample page's 4 × 4 pads of the shown bank, pad 1 at the bottom-left.
QRectF pad(const QRectF& window, int index);
} // namespace Koala

// The MPC Touch's controls. Pads 1-16 sit at indices 0-15 (pad 1 bottom-left, pad 13 top-left, as on
// the device); the buttons are the notes it sends and the lights it shows.
struct MpcButton {
    int note;  // the note the MPC sends on channel 1 of "Public"
    int light; // the controller whose value lights it
    const char* title;
};
inline constexpr std::array<MpcButton, 7> mpcButtons{{{35, 35, "A"},
                                                      {36, 36, "B"},
                                                      {37, 37, "C"},
                                                      {38, 38, "D"},
                                                      {40, 40, "16 LEVELS"},
                                                      {39, 39, "FULL LEVEL"},
                                                      {0, -1, "Q-LINK BANK"}}};
// The Q-Link bank lights A-D.
inline constexpr std::array<int, 4> qlinkLights{90, 91, 92, 93};

struct MpcTouchLayout {
    QRectF body;
    std::array<QRectF, 16> pads;
    std::array<QRectF, mpcButtons.size()> buttons;
    std::array<QRectF, 4> qlinkLeds;

    std::optional<int> padAt(QPointF point) const;    // 1-16
    std::optional<int> buttonAt(QPointF point) const; // index into mpcButtons
};
MpcTouchLayout mpcTouchLayout(const QRectF& bounds);

// The Push 2's buttons by controller number, as its user mode sends them.
struct Push2Button {
    int cc;
    const char* title;
};
// Whether a button's LED takes palette colours (else a white brightness).
bool push2ButtonIsRgb(int cc);

struct Push2Layout {
    QRectF body;
    QRectF display;
    std::array<QRectF, 64> pads; // index 0 bottom-left, +1 to the right, +8 upwards
    // 0-7 over the display, 8 tempo, 9 swing, 10 master, as the Push numbers them.
    std::array<QRectF, 11> encoders;
    struct Placed {
        Push2Button button;
        QRectF rect;
    };
    std::vector<Placed> buttons;

    std::optional<int> padAt(QPointF point) const;
    std::optional<int> encoderAt(QPointF point) const;
    std::optional<int> buttonAt(QPointF point) const; // the controller number
    const Placed* button(int cc) const;
};
Push2Layout push2Layout(const QRectF& bounds);

} // namespace tandem::RigGeometry
