#include "tandem/shell/rig/RigArt.h"

#include "tandem/app/SimulatedMac.h"
#include "tandem/looks/KoalaLook.h"
#include "tandem/looks/PanelArt.h"
#include "tandem/looks/TandemCardArt.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QString>

#include <algorithm>
#include <cmath>

namespace tandem::RigArt {

namespace {

using namespace RigGeometry;

constexpr QColor frameColor{24, 24, 28};
constexpr QColor menuBar{226, 226, 230};
constexpr QColor labelInk{235, 235, 240};
constexpr QColor deviceBody{28, 28, 30};
constexpr QColor deviceEdge{70, 70, 74};
constexpr QColor pushBody{34, 34, 34};

// Text too small to read is left out rather than drawn as a smudge.
constexpr double smallestText = 4;

void label(QPainter& painter, const QRectF& rect, const QString& text, const QColor& color, double pixelSize,
           int flags = Qt::AlignCenter) {
    if (pixelSize < smallestText || text.isEmpty()) return;
    QFont font;
    font.setPixelSize(std::max(1, int(std::lround(pixelSize))));
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(rect, flags | Qt::TextSingleLine, text);
}

void koalaLabel(QPainter& painter, const QRectF& rect, const QString& text, const QColor& color,
                double pixelSize) {
    if (pixelSize < smallestText || text.isEmpty()) return;
    painter.setFont(KoalaLook::font(pixelSize));
    painter.setPen(color);
    painter.drawText(rect, Qt::AlignCenter | Qt::TextSingleLine, text);
}

// Black or white, whichever reads on a fill.
QColor inkOn(const QColor& fill) {
    return fill.lightnessF() > 0.6 ? QColor(20, 20, 20) : labelInk;
}

void filled(QPainter& painter, const QRectF& rect, const QColor& fill, double radius,
            const QColor& edge = {}) {
    painter.setPen(edge.isValid() ? QPen(edge, 1) : Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(rect, radius, radius);
}

// Everything the screens show, read once per picture.
struct Scene {
    std::vector<Screen> screens;
    std::optional<Rect> koalaWindow; // global
    KoalaScreen koala;
    struct Card {
        Rect frame;
        bool shadow;
        std::string status;
    };
    std::vector<Card> cards;
    struct Floating {
        PanelPlan plan;
        Point origin;
    };
    std::vector<Floating> panels;
};

Scene read(SimulatedMac& mac) {
    Scene scene;
    scene.screens = mac.rig.screens.screens();
    if (auto window = mac.rig.koala.windowBounds()) {
        scene.koalaWindow = globalFromDisplay(*window, scene.screens);
        scene.koala = koalaScreen(mac.rig.koala);
    }
    for (const auto& card : mac.desktop.openCards())
        scene.cards.push_back({card->plan.frame, card->plan.shadow, card->status});
    for (SimPanel* panel : mac.rig.panels.panels()) {
        if (panel->isVisible()) scene.panels.push_back({panel->plan(), panel->origin()});
    }
    return scene;
}

void drawScene(QPainter& painter, const ScreenArea& area, const Scene& scene) {
    painter.save();
    painter.setClipRect(area.area);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(area.area, desktop);
    const Screen& screen = area.screen;
    // The menu bar is what the visible frame leaves out at the top.
    if (screen.visibleFrame.width > 0 && screen.visibleFrame.maxY() < screen.frame.maxY()) {
        painter.fillRect(area.toView(Rect{screen.frame.x, screen.visibleFrame.maxY(), screen.frame.width,
                                          screen.frame.maxY() - screen.visibleFrame.maxY()}),
                         menuBar);
    }
    const QRectF nameRect = area.area.adjusted(6, 0, -6, -4);
    label(painter, nameRect, QString::fromStdString(screen.name), QColor(255, 255, 255, 150),
          std::min(13.0, area.area.height() * 0.05), Qt::AlignLeft | Qt::AlignBottom);

    if (scene.koalaWindow) drawKoala(painter, area.toView(*scene.koalaWindow), scene.koala);
    for (const Scene::Card& card : scene.cards) {
        // Whole pixels let the card reuse the ground it keeps.
        const QRectF rect = QRectF(area.toView(card.frame).toAlignedRect());
        if (card.shadow)
            painter.fillRect(rect.translated(0, std::max(1.0, 4 * area.scale())), QColor(0, 0, 0, 70));
        painter.save();
        TandemCardArt::draw(painter, rect, card.status);
        painter.restore();
    }
    for (const Scene::Floating& panel : scene.panels) {
        const QRectF rect =
            area.toView(Rect{panel.origin.x, panel.origin.y, panel.plan.size.width, panel.plan.size.height});
        if (panel.plan.size.width <= 0 || panel.plan.size.height <= 0) continue;
        painter.save();
        painter.translate(rect.topLeft());
        painter.scale(rect.width() / panel.plan.size.width, rect.height() / panel.plan.size.height);
        PanelArt::draw(painter, panel.plan);
        painter.restore();
    }
    painter.restore();
}

// Koala's page content between the tabs and the button row.

const char* const effectNames[] = {"CRUSH",   "PITCH",  "COMB",   "RING",      "REVERB", "STUTTER",
                                   "GATE",    "FILTER", "CUTTER", "REVERSE",   "DUB",    "DELAY",
                                   "TALKBOX", "FLANGE", "DIRTY",  "COMPRESSOR"};

void samplePage(QPainter& painter, const QRectF& window, const KoalaScreen& screen) {
    const QColor bankColor = KoalaLook::bank(screen.bank);
    for (int i = 0; i < 16; ++i) {
        const QRectF pad = Koala::pad(window, i);
        const bool loaded = screen.loaded[size_t(screen.bank * 16 + i)];
        QColor fill = loaded ? bankColor : KoalaLook::background.lighter(140);
        if (loaded) fill.setAlpha(170);
        filled(painter, pad, fill, pad.width() * 0.08);
        koalaLabel(painter, pad, QString("%1%2").arg(QChar('A' + screen.bank)).arg(i + 1),
                   KoalaLook::foreground, pad.height() * 0.28);
    }
}

void sequencePage(QPainter& painter, const QRectF& window, const KoalaScreen& screen) {
    const QRectF keys = Koala::keyboardButton(window);
    filled(painter, keys, screen.keyboardOn ? KoalaLook::pink : KoalaLook::grey, keys.height() * 0.2);
    koalaLabel(painter, keys, "KEYS", KoalaLook::foreground, keys.height() * 0.45);
    // The step grid beside it.
    const QRectF grid(window.left() + 0.36 * window.width(), window.top() + 0.2 * window.height(),
                      0.6 * window.width(), 0.65 * window.height());
    painter.setPen(QPen(KoalaLook::grey, 1));
    for (int step = 0; step <= 16; ++step) {
        const double x = grid.left() + grid.width() * step / 16;
        painter.drawLine(QPointF(x, grid.top()), QPointF(x, grid.bottom()));
    }
    for (int lane = 0; lane <= 8; ++lane) {
        const double y = grid.top() + grid.height() * lane / 8;
        painter.drawLine(QPointF(grid.left(), y), QPointF(grid.right(), y));
    }
}

void performPage(QPainter& painter, const QRectF& window) {
    for (int i = 0; i < 16; ++i) {
        const QRectF tile = Koala::pad(window, i);
        filled(painter, tile, KoalaLook::background.lighter(150), tile.width() * 0.08);
        koalaLabel(painter, tile, effectNames[i], KoalaLook::muted, tile.height() * 0.18);
    }
}

void settingsPage(QPainter& painter, const QRectF& window) {
    painter.setPen(QPen(KoalaLook::grey, std::max(1.0, window.height() * 0.004)));
    for (int line = 0; line < 8; ++line) {
        const double y = window.top() + (0.22 + line * 0.08) * window.height();
        painter.drawLine(QPointF(window.left() + 0.28 * window.width(), y),
                         QPointF(window.left() + 0.72 * window.width(), y));
    }
}

void mixer(QPainter& painter, const QRectF& window) {
    const QRectF sheet(window.left() + 0.3 * window.width(), window.top() + 0.2 * window.height(),
                       0.62 * window.width(), 0.68 * window.height());
    filled(painter, sheet, KoalaLook::background.darker(130), sheet.width() * 0.02, KoalaLook::grey);
    for (int bus = 0; bus < 4; ++bus) {
        const double x = sheet.left() + sheet.width() * (bus + 0.5) / 4;
        const QRectF fader(x - sheet.width() * 0.015, sheet.top() + sheet.height() * 0.12,
                           sheet.width() * 0.03, sheet.height() * 0.7);
        filled(painter, fader, KoalaLook::grey, fader.width() * 0.4);
        koalaLabel(painter,
                   QRectF(x - sheet.width() * 0.1, sheet.bottom() - sheet.height() * 0.15,
                          sheet.width() * 0.2, sheet.height() * 0.12),
                   QString(QChar('A' + bus)), KoalaLook::foreground, sheet.height() * 0.08);
    }
}

// Four corner brackets: Koala fills its screen.
void fullScreenMark(QPainter& painter, const QRectF& window) {
    const double side = std::max(6.0, window.height() * 0.045);
    const QRectF mark(window.right() - side * 1.6, window.top() + side * 0.6, side, side);
    const double arm = side * 0.35;
    painter.setPen(QPen(KoalaLook::foreground, std::max(1.0, side * 0.12)));
    QPainterPath path;
    for (const QPointF& corner : {mark.topLeft(), mark.topRight(), mark.bottomLeft(), mark.bottomRight()}) {
        const double dx = corner.x() == mark.left() ? arm : -arm;
        const double dy = corner.y() == mark.top() ? arm : -arm;
        path.moveTo(corner + QPointF(dx, 0));
        path.lineTo(corner);
        path.lineTo(corner + QPointF(0, dy));
    }
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);
}

void titleBar(QPainter& painter, const QRectF& window) {
    const double height = std::max(3.0, window.height() * 0.035);
    const QRectF bar(window.left(), window.top(), window.width(), height);
    painter.fillRect(bar, QColor(62, 58, 58));
    const double dot = height * 0.5;
    const QColor lights[] = {{255, 95, 86}, {255, 189, 46}, {39, 201, 63}};
    for (int i = 0; i < 3; ++i) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(lights[i]);
        painter.drawEllipse(QRectF(bar.left() + dot * (0.6 + 1.6 * i), bar.center().y() - dot / 2, dot, dot));
    }
    label(painter, bar, "Koala Sampler", labelInk, height * 0.6);
}

void drawMpcButton(QPainter& painter, const QRectF& rect, const QString& title, const QColor& fill) {
    filled(painter, rect, fill, rect.height() * 0.15, deviceEdge);
    label(painter, rect, title, inkOn(fill),
          std::min(rect.height() * 0.32, rect.width() / (title.size() * 0.75)));
}

} // namespace

KoalaScreen koalaScreen(SimKoala& koala) {
    KoalaScreen screen;
    screen.page = koala.page();
    screen.bank = std::clamp(koala.shownBank(), 0, 3);
    screen.mixerOpen = koala.mixerOpen();
    screen.keyboardOn = koala.keyboardOn();
    screen.fullScreen = koala.fullScreen();
    const auto song = koala.song();
    for (size_t i = 0; i < screen.loaded.size() && i < song.pads.size(); ++i)
        screen.loaded[i] = song.pads[i].loaded();
    return screen;
}

void drawScreens(QPainter& painter, const QRectF& bounds, SimulatedMac& mac) {
    painter.fillRect(bounds, frameColor);
    const Scene scene = read(mac);
    for (const ScreenArea& area : layoutScreens(scene.screens, bounds, screensMargin))
        drawScene(painter, area, scene);
}

void drawScreen(QPainter& painter, const ScreenArea& area, SimulatedMac& mac) {
    drawScene(painter, area, read(mac));
}

void drawKoala(QPainter& painter, const QRectF& window, const KoalaScreen& screen) {
    if (window.width() < 2 || window.height() < 2) return;
    painter.save();
    painter.setClipRect(window, Qt::IntersectClip);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(window, KoalaLook::background);

    // Koala's name left of the tabs, the tabs with the shown page lit.
    const QRectF nameRect(window.left(), window.top(), 0.24 * window.width(),
                          Koala::tabHeight * window.height());
    koalaLabel(painter, nameRect, "koala", KoalaLook::pink, nameRect.height() * 0.45);
    for (size_t i = 0; i < Koala::tabs.size(); ++i) {
        const QRectF tab = Koala::tab(window, i).adjusted(1, 2, -1, -2);
        const bool shown = screen.page == Koala::tabs[i].page;
        if (shown) filled(painter, tab, KoalaLook::pink, tab.height() * 0.15);
        const QString title = Koala::tabs[i].title;
        // Koala's narrow last tab takes a smaller size so its word fits.
        koalaLabel(painter, tab, title, shown ? KoalaLook::foreground : KoalaLook::muted,
                   std::min(tab.height() * 0.3, tab.width() / (title.size() * 0.62)));
    }

    if (screen.page == "sample")
        samplePage(painter, window, screen);
    else if (screen.page == "sequence")
        sequencePage(painter, window, screen);
    else if (screen.page == "perform")
        performPage(painter, window);
    else
        settingsPage(painter, window);
    if (screen.mixerOpen) mixer(painter, window);

    for (int bank = 0; bank < 4; ++bank) {
        const QRectF button = Koala::bankButton(window, bank);
        const bool shown = bank == screen.bank;
        filled(painter, button, shown ? KoalaLook::bank(bank) : KoalaLook::grey, button.height() * 0.15);
        koalaLabel(painter, button, QString(QChar('A' + bank)), KoalaLook::foreground, button.height() * 0.6);
    }
    const QRectF mixerButton = Koala::mixerButton(window);
    filled(painter, mixerButton, screen.mixerOpen ? KoalaLook::pink : KoalaLook::grey,
           mixerButton.height() * 0.15);
    koalaLabel(painter, mixerButton, "MIXER", KoalaLook::foreground, mixerButton.height() * 0.5);

    if (screen.fullScreen)
        fullScreenMark(painter, window);
    else
        titleBar(painter, window);
    painter.restore();
}

QColor mpcLight(int value) {
    if (value <= 0) return unlit;
    // 1 is the MPC's dim level; 2 and above are lit.
    return value == 1 ? mpcLit.darker(220) : mpcLit;
}

void drawMpcTouch(QPainter& painter, const QRectF& bounds, const SimMpcTouch& mpc,
                  const std::set<int>& heldPads) {
    const MpcTouchLayout layout = mpcTouchLayout(bounds);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    filled(painter, layout.body, deviceBody, 8, deviceEdge);
    label(painter, layout.body.adjusted(8, 4, -8, -4), "MPC TOUCH", QColor(150, 150, 155),
          std::min(12.0, layout.body.height() * 0.06), Qt::AlignLeft | Qt::AlignTop);
    if (!mpc.plugged())
        label(painter, layout.body.adjusted(8, 4, -8, -4), "unplugged", QColor(200, 120, 110),
              std::min(12.0, layout.body.height() * 0.06), Qt::AlignRight | Qt::AlignTop);
    for (int pad = 1; pad <= 16; ++pad) {
        const QRectF rect = layout.pads[size_t(pad - 1)];
        const QColor fill = heldPads.count(pad) ? padHeld : QColor(62, 62, 66);
        filled(painter, rect, fill, rect.width() * 0.08, deviceEdge);
        label(painter, rect.adjusted(3, 2, -3, -2), QString::number(pad), inkOn(fill), rect.height() * 0.18,
              Qt::AlignLeft | Qt::AlignBottom);
    }
    for (size_t i = 0; i < mpcButtons.size(); ++i) {
        const MpcButton& button = mpcButtons[i];
        const QColor fill = button.light >= 0
                                ? mpcLight(mpc.light(SimMpcTouch::Port::publicPort, uint8_t(button.light)))
                                : QColor(80, 80, 84);
        drawMpcButton(painter, layout.buttons[i], QString::fromUtf8(button.title), fill);
    }
    for (size_t i = 0; i < qlinkLights.size(); ++i) {
        const QColor fill = mpcLight(mpc.light(SimMpcTouch::Port::publicPort, uint8_t(qlinkLights[i])));
        painter.setPen(QPen(deviceEdge, 1));
        painter.setBrush(fill);
        painter.drawEllipse(layout.qlinkLeds[i]);
    }
    painter.restore();
}

QColor push2PadColor(const SimPush2& push, int index) {
    const int value = push.padLight(index);
    if (value <= 0) return unlit;
    const SimPush2::Color color = push.palette(uint8_t(value));
    return {color.r, color.g, color.b};
}

QColor push2ButtonColor(const SimPush2& push, int cc) {
    const int value = push.buttonLight(cc);
    if (value <= 0) return unlit;
    if (push2ButtonIsRgb(cc)) {
        const SimPush2::Color color = push.palette(uint8_t(value));
        return {color.r, color.g, color.b};
    }
    // White LEDs: the value is a brightness up to 127.
    const int level = 70 + std::min(value, 127) * 185 / 127;
    return {level, level, level};
}

QColor push2Pixel(uint16_t pixel) {
    // Widen each field by repeating its top bits, so full scale stays full scale.
    const int r = pixel & 0x1F, g = (pixel >> 5) & 0x3F, b = (pixel >> 11) & 0x1F;
    return {(r << 3) | (r >> 2), (g << 2) | (g >> 4), (b << 3) | (b >> 2)};
}

QImage push2Frame(const std::vector<uint16_t>& pixels) {
    constexpr int width = 960, height = 160;
    if (pixels.size() != size_t(width * height)) return {};
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = push2Pixel(pixels[size_t(y * width + x)]).rgb();
    }
    return image;
}

void drawPush2(QPainter& painter, const QRectF& bounds, const SimPush2& push, const SimPush2Display& display,
               const std::set<int>& heldPads) {
    const Push2Layout layout = push2Layout(bounds);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    filled(painter, layout.body, pushBody, 8, deviceEdge);
    const double unit = layout.pads[0].width();
    if (!push.plugged())
        label(painter, layout.body.adjusted(8, 4, -8, -4), "unplugged", QColor(200, 120, 110),
              std::min(12.0, unit * 0.4), Qt::AlignRight | Qt::AlignTop);

    painter.fillRect(layout.display, Qt::black);
    const auto pixels = display.lastImage();
    const QImage frame = pixels ? push2Frame(*pixels) : QImage();
    if (!frame.isNull()) {
        painter.save();
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(layout.display, frame);
        painter.restore();
    } else {
        label(painter, layout.display, "no frame", QColor(120, 120, 120), layout.display.height() * 0.2);
    }

    for (size_t i = 0; i < layout.encoders.size(); ++i) {
        const QRectF& knob = layout.encoders[i];
        painter.setPen(QPen(deviceEdge, 1));
        painter.setBrush(QColor(58, 58, 60));
        painter.drawEllipse(knob);
        painter.setPen(QPen(QColor(200, 200, 200), std::max(1.0, knob.width() * 0.08)));
        painter.drawLine(knob.center(), QPointF(knob.center().x(), knob.top() + knob.height() * 0.15));
    }
    for (int pad = 0; pad < 64; ++pad) {
        const QRectF& rect = layout.pads[size_t(pad)];
        filled(painter, rect, push2PadColor(push, pad), rect.width() * 0.08);
        // A held pad keeps its LED colour and gets a white ring, so the light stays readable.
        if (heldPads.count(pad)) {
            painter.setPen(QPen(padHeld, std::max(1.5, rect.width() * 0.08)));
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(rect, rect.width() * 0.08, rect.width() * 0.08);
        }
    }
    for (const Push2Layout::Placed& placed : layout.buttons) {
        const QColor fill = push2ButtonColor(push, placed.button.cc);
        filled(painter, placed.rect, fill, placed.rect.height() * 0.15);
        const QString title = QString::fromUtf8(placed.button.title);
        label(painter, placed.rect, title, inkOn(fill),
              std::min(placed.rect.height() * 0.3,
                       placed.rect.width() / std::max<qsizetype>(4, title.size()) * 1.3));
    }
    painter.restore();
}

QImage mpcScreen(SimulatedMac& mac, QSize size) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    if (image.isNull()) return image;
    QPainter painter(&image);
    if (auto screen = mac.rig.mpcScreen()) {
        drawScreen(painter, fillScreen(*screen, QRectF(QPointF(0, 0), QSizeF(size))), mac);
    } else {
        label(painter, QRectF(QPointF(0, 0), QSizeF(size)), "MPC display unplugged", QColor(150, 150, 150),
              size.height() * 0.05);
    }
    painter.end();
    return image;
}

} // namespace tandem::RigArt
