#include "tandem/shell/rig/RigGeometry.h"

#include <algorithm>
#include <limits>

namespace tandem::RigGeometry {

QPointF ScreenArea::toView(Point global) const {
    const Rect& frame = screen.frame;
    const double sx = frame.width > 0 ? area.width() / frame.width : 0;
    const double sy = frame.height > 0 ? area.height() / frame.height : 0;
    return {area.left() + (global.x - frame.x) * sx, area.top() + (frame.maxY() - global.y) * sy};
}

QRectF ScreenArea::toView(const Rect& global) const {
    // The rectangle's top edge in y-up terms is its maximum y.
    QPointF topLeft = toView(Point{global.minX(), global.maxY()});
    QPointF bottomRight = toView(Point{global.maxX(), global.minY()});
    return QRectF(topLeft, bottomRight);
}

Point ScreenArea::toGlobal(QPointF view) const {
    const Rect& frame = screen.frame;
    const double sx = area.width() > 0 ? frame.width / area.width() : 0;
    const double sy = area.height() > 0 ? frame.height / area.height() : 0;
    return {frame.x + (view.x() - area.left()) * sx, frame.maxY() - (view.y() - area.top()) * sy};
}

std::vector<ScreenArea> layoutScreens(const std::vector<Screen>& screens, const QRectF& bounds,
                                      double margin) {
    std::vector<ScreenArea> areas;
    if (screens.empty()) return areas;
    double minX = std::numeric_limits<double>::max(), minY = minX;
    double maxX = std::numeric_limits<double>::lowest(), maxY = maxX;
    for (const Screen& screen : screens) {
        minX = std::min(minX, screen.frame.minX());
        minY = std::min(minY, screen.frame.minY());
        maxX = std::max(maxX, screen.frame.maxX());
        maxY = std::max(maxY, screen.frame.maxY());
    }
    const double worldWidth = maxX - minX, worldHeight = maxY - minY;
    const QRectF room = bounds.adjusted(margin, margin, -margin, -margin);
    if (worldWidth <= 0 || worldHeight <= 0 || room.width() <= 0 || room.height() <= 0) return areas;
    const double scale = std::min(room.width() / worldWidth, room.height() / worldHeight);
    // Centred in the room; y flips because the world runs up and the view down.
    const double left = room.left() + (room.width() - worldWidth * scale) / 2;
    const double top = room.top() + (room.height() - worldHeight * scale) / 2;
    for (const Screen& screen : screens) {
        QRectF area(left + (screen.frame.minX() - minX) * scale, top + (maxY - screen.frame.maxY()) * scale,
                    screen.frame.width * scale, screen.frame.height * scale);
        areas.push_back({screen, area});
    }
    return areas;
}

ScreenArea fillScreen(const Screen& screen, const QRectF& bounds) {
    return {screen, bounds};
}

const ScreenArea* screenAt(const std::vector<ScreenArea>& areas, QPointF view) {
    // Screens do not overlap; the last one wins should they ever.
    for (auto it = areas.rbegin(); it != areas.rend(); ++it) {
        const QRectF& a = it->area;
        if (view.x() >= a.left() && view.x() < a.right() && view.y() >= a.top() && view.y() < a.bottom())
            return &*it;
    }
    return nullptr;
}

Rect globalFromDisplay(const Rect& display, const std::vector<Screen>& screens) {
    const double firstMaxY = screens.empty() ? display.maxY() : screens.front().frame.maxY();
    return {display.x, firstMaxY - display.maxY(), display.width, display.height};
}

Point displayFromGlobal(Point global, const std::vector<Screen>& screens) {
    const double firstMaxY = screens.empty() ? global.y : screens.front().frame.maxY();
    return {global.x, firstMaxY - global.y};
}

namespace Koala {

namespace {
// A rectangle of design size (on 1280 × 800) centred on fractions of the window.
QRectF centred(const QRectF& window, double fx, double fy, double width, double height) {
    const double w = width / 1280 * window.width(), h = height / 800 * window.height();
    return {window.left() + fx * window.width() - w / 2, window.top() + fy * window.height() - h / 2, w, h};
}
} // namespace

QRectF tab(const QRectF& window, size_t index) {
    const Tab& t = tabs.at(index);
    return {window.left() + t.from * window.width(), window.top(), (t.to - t.from) * window.width(),
            tabHeight * window.height()};
}

QRectF bankButton(const QRectF& window, int bank) {
    return centred(window, bankCentres.at(size_t(std::clamp(bank, 0, 3))), buttonRow, 32, 24);
}

QRectF mixerButton(const QRectF& window) {
    return centred(window, mixerCentre, buttonRow, 64, 24);
}

QRectF keyboardButton(const QRectF& window) {
    return {window.left() + keyboardLeft * window.width(), window.top() + keyboardTop * window.height(),
            (keyboardRight - keyboardLeft) * window.width(),
            (keyboardBottom - keyboardTop) * window.height()};
}

QRectF pad(const QRectF& window, int index) {
    // Under the page tabs, above the button row.
    const double left = window.left() + 0.255 * window.width(), width = 0.42 * window.width();
    const double top = window.top() + 0.17 * window.height(), height = 0.72 * window.height();
    const int column = index % 4, row = 3 - index / 4;
    const double w = width / 4, h = height / 4;
    return QRectF(left + column * w, top + row * h, w, h).adjusted(w * 0.05, h * 0.05, -w * 0.05, -h * 0.05);
}

} // namespace Koala

namespace {

bool inside(const QRectF& r, QPointF p) {
    return p.x() >= r.left() && p.x() < r.right() && p.y() >= r.top() && p.y() < r.bottom();
}

template <size_t N> std::optional<int> indexAt(const std::array<QRectF, N>& rects, QPointF point) {
    for (size_t i = 0; i < N; ++i) {
        if (inside(rects[i], point)) return int(i);
    }
    return std::nullopt;
}

} // namespace

std::optional<int> MpcTouchLayout::padAt(QPointF point) const {
    auto index = indexAt(pads, point);
    return index ? std::optional<int>(*index + 1) : std::nullopt;
}

std::optional<int> MpcTouchLayout::buttonAt(QPointF point) const {
    return indexAt(buttons, point);
}

MpcTouchLayout mpcTouchLayout(const QRectF& bounds) {
    MpcTouchLayout layout;
    layout.body = bounds.adjusted(2, 2, -2, -2);
    const QRectF& body = layout.body;
    const double margin = 0.05 * std::min(body.width(), body.height());
    // The pads: a square grid on the right, as on the device.
    const double grid = std::max(0.0, std::min(body.height() - 2 * margin, body.width() * 0.58));
    const double gridLeft = body.right() - margin - grid, gridTop = body.center().y() - grid / 2;
    const double cell = grid / 4;
    for (int i = 0; i < 16; ++i) {
        const int column = i % 4, row = 3 - i / 4;
        layout.pads[size_t(i)] = QRectF(gridLeft + column * cell, gridTop + row * cell, cell, cell)
                                     .adjusted(cell * 0.06, cell * 0.06, -cell * 0.06, -cell * 0.06);
    }
    // The buttons: three rows on the left, the bank row level with the lowest pads.
    const double left = body.left() + margin, width = std::max(0.0, gridLeft - margin - left);
    const double rowHeight = std::min(cell, width / 3);
    const double gap = rowHeight * 0.12;
    auto row = [&](int fromBottom) { return gridTop + grid - (fromBottom + 1) * rowHeight; };
    for (int bank = 0; bank < 4; ++bank) {
        layout.buttons[size_t(bank)] =
            QRectF(left + bank * width / 4, row(0), width / 4, rowHeight).adjusted(gap, gap, -gap, -gap);
    }
    layout.buttons[4] = QRectF(left, row(1), width / 2, rowHeight).adjusted(gap, gap, -gap, -gap);
    layout.buttons[5] = QRectF(left + width / 2, row(1), width / 2, rowHeight).adjusted(gap, gap, -gap, -gap);
    layout.buttons[6] = QRectF(left, row(2), width / 2, rowHeight).adjusted(gap, gap, -gap, -gap);
    const double led = std::min(width / 8, rowHeight) * 0.5;
    for (int i = 0; i < 4; ++i) {
        const double centreX = left + width / 2 + (i + 0.5) * width / 8;
        layout.qlinkLeds[size_t(i)] = QRectF(centreX - led / 2, row(2) + rowHeight / 2 - led / 2, led, led);
    }
    return layout;
}

bool push2ButtonIsRgb(int cc) {
    // The display rows, the scene column and the transport and track buttons carry RGB LEDs.
    return (cc >= 20 && cc <= 27) || (cc >= 36 && cc <= 43) || (cc >= 102 && cc <= 109) || cc == 29 ||
           cc == 60 || cc == 61 || cc == 85 || cc == 86 || cc == 89;
}

namespace {

// Columns of the Push's face in pad pitches: two of buttons, eight of pads, the scene column, three
// of buttons; rows: the encoders, the upper button row, the display, the lower row, then eight pads.
constexpr double columns = 14, sideMargin = 0.3;
constexpr double encoderRow = 0.9, buttonRow = 0.55, displayRow = 8.0 / 6.0, padGap = 0.25;
constexpr double rows = encoderRow + buttonRow + displayRow + buttonRow + padGap + 8;

const std::array<Push2Button, 16> leftBlock{{{3, "TAP"},
                                             {9, "METRO"},
                                             {118, "DELETE"},
                                             {119, "UNDO"},
                                             {60, "MUTE"},
                                             {61, "SOLO"},
                                             {29, "STOP"},
                                             {35, "CONVERT"},
                                             {117, "DOUBLE"},
                                             {116, "QUANT"},
                                             {88, "DUPL"},
                                             {87, "NEW"},
                                             {90, "FIXED"},
                                             {89, "AUTO"},
                                             {86, "REC"},
                                             {85, "PLAY"}}};

const std::array<Push2Button, 24> rightBlock{
    {{30, "SETUP"}, {59, "USER"},    {31, "LAYOUT"}, {52, "DEVICE+"}, {53, "TRACK+"}, {110, "DEVICE"},
     {112, "MIX"},  {111, "BROWSE"}, {113, "CLIP"},  {56, "REPEAT"},  {57, "ACCENT"}, {58, "SCALE"},
     {50, "NOTE"},  {51, "SESSION"}, {48, "SELECT"}, {54, "OCT−"},    {55, "OCT+"},   {49, "SHIFT"},
     {62, "PAGE◀"}, {63, "PAGE▶"},   {46, "▲"},      {44, "◀"},       {47, "▼"},      {45, "▶"}}};

} // namespace

std::optional<int> Push2Layout::padAt(QPointF point) const {
    return indexAt(pads, point);
}

std::optional<int> Push2Layout::encoderAt(QPointF point) const {
    return indexAt(encoders, point);
}

std::optional<int> Push2Layout::buttonAt(QPointF point) const {
    for (const Placed& placed : buttons) {
        if (inside(placed.rect, point)) return placed.button.cc;
    }
    return std::nullopt;
}

const Push2Layout::Placed* Push2Layout::button(int cc) const {
    for (const Placed& placed : buttons) {
        if (placed.button.cc == cc) return &placed;
    }
    return nullptr;
}

Push2Layout push2Layout(const QRectF& bounds) {
    Push2Layout layout;
    const double unit = std::max(0.0, std::min(bounds.width() / (columns + 2 * sideMargin),
                                               bounds.height() / (rows + 2 * sideMargin)));
    const double width = unit * (columns + 2 * sideMargin), height = unit * (rows + 2 * sideMargin);
    layout.body = QRectF(bounds.center().x() - width / 2, bounds.center().y() - height / 2, width, height);
    const double left = layout.body.left() + sideMargin * unit;
    const double encoderTop = layout.body.top() + sideMargin * unit;
    const double upperTop = encoderTop + encoderRow * unit;
    const double displayTop = upperTop + buttonRow * unit;
    const double lowerTop = displayTop + displayRow * unit;
    const double padTop = lowerTop + (buttonRow + padGap) * unit;
    auto column = [&](double c) { return left + c * unit; };
    auto place = [&](const Push2Button& button, double c, double top, double h) {
        const double inset = 0.08 * unit;
        layout.buttons.push_back(
            {button, QRectF(column(c), top, unit, h).adjusted(inset, inset, -inset, -inset)});
    };

    layout.display = QRectF(column(2), displayTop, 8 * unit, displayRow * unit);
    for (int i = 0; i < 64; ++i) {
        const double inset = 0.06 * unit;
        layout.pads[size_t(i)] = QRectF(column(2 + i % 8), padTop + (7 - i / 8) * unit, unit, unit)
                                     .adjusted(inset, inset, -inset, -inset);
    }
    const double knob = 0.7 * unit;
    auto encoder = [&](double c) {
        return QRectF(column(c) + (unit - knob) / 2, encoderTop + (encoderRow * unit - knob) / 2, knob, knob);
    };
    for (int i = 0; i < 8; ++i)
        layout.encoders[size_t(i)] = encoder(2 + i);
    layout.encoders[8] = encoder(0);   // tempo
    layout.encoders[9] = encoder(1);   // swing
    layout.encoders[10] = encoder(12); // master

    for (int i = 0; i < 8; ++i) {
        place({102 + i, ""}, 2 + i, upperTop, buttonRow * unit);
        place({20 + i, ""}, 2 + i, lowerTop, buttonRow * unit);
        place({43 - i, ""}, 10, padTop + i * unit, unit); // the scene column, its first button on top
    }
    place({28, "MASTER"}, 12, upperTop, buttonRow * unit);
    for (size_t i = 0; i < leftBlock.size(); ++i)
        place(leftBlock[i], double(i % 2), padTop + double(i / 2) * unit, unit);
    for (size_t i = 0; i < rightBlock.size(); ++i)
        place(rightBlock[i], 11 + double(i % 3), padTop + double(i / 3) * unit, unit);
    return layout;
}

} // namespace tandem::RigGeometry
