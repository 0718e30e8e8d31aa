// The rig's pictures: where the screens and controls lie, and what the simulated Mac looks like drawn
// while Tandem brings Koala up on the MPC Touch's screen and while the Push 2 plays it.
#include "RigScenes.h"

#include "push2_display/push2_display.h"
#include "tandem/looks/CardBackdrop.h"
#include "tandem/looks/KoalaLook.h"
#include "tandem/looks/PanelArt.h"
#include "tandem/looks/TandemCardArt.h"
#include "tandem/push/Push2Protocol.h"
#include "tandem/shell/rig/RigArt.h"
#include "tandem/shell/rig/RigText.h"

#include <QPainter>

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace tandem {
namespace {

using namespace RigGeometry;
using testing::AppRig;
using testing::distance;
using testing::pixel;

const Screen mainScreen = SimScreens::mainScreen();

TEST(RigGeometry, ScreensKeepTheirArrangementScaledIntoTheView) {
    {
        SCOPED_TRACE("the MPC screen left of the main one, along its bottom");
        const std::vector<Screen> screens{mainScreen, SimScreens::mpcTouchScreen({-1280, 0, 1280, 800})};
        // 2720 × 900 points into 1360 × 550: half scale, centred top to bottom.
        const auto areas = layoutScreens(screens, QRectF(0, 0, 1360, 550));
        ASSERT_EQ(areas.size(), 2u);
        EXPECT_EQ(areas[0].area, QRectF(640, 50, 720, 450));
        EXPECT_EQ(areas[1].area, QRectF(0, 100, 640, 400));
        // The MPC screen's top-left corner, in display coordinates (-1280, 100), is its area's.
        const Point corner = displayFromGlobal(areas[1].toGlobal(QPointF(0, 100)), screens);
        EXPECT_EQ(corner, (Point{-1280, 100}));
        EXPECT_EQ(areas[1].toView(Point{-640, 400}), QPointF(320, 300));
        EXPECT_EQ(screenAt(areas, QPointF(320, 300)), &areas[1]);
        EXPECT_EQ(screenAt(areas, QPointF(1000, 60)), &areas[0]);
        EXPECT_EQ(screenAt(areas, QPointF(100, 70)), nullptr); // beside the MPC screen, under nothing
        // Koala full screen on the MPC display (display coordinates) lies on the MPC screen.
        EXPECT_EQ(globalFromDisplay(Rect{-1280, 100, 1280, 800}, screens), (Rect{-1280, 0, 1280, 800}));
        EXPECT_EQ(areas[1].toView(Rect{-1280, 0, 1280, 800}), areas[1].area);
    }
    {
        SCOPED_TRACE("the MPC screen above the main one; a margin all round");
        const std::vector<Screen> screens{mainScreen, SimScreens::mpcTouchScreen({0, 900, 1280, 800})};
        const auto areas = layoutScreens(screens, QRectF(0, 0, 740, 870), 10);
        ASSERT_EQ(areas.size(), 2u);
        // 1440 × 1700 points into 720 × 850.
        EXPECT_EQ(areas[1].area, QRectF(10, 10, 640, 400));
        EXPECT_EQ(areas[0].area, QRectF(10, 410, 720, 450));
        const Point global = areas[0].toGlobal(QPointF(10, 410));
        EXPECT_EQ(global, (Point{0, 900}));
        EXPECT_EQ(displayFromGlobal(global, screens), (Point{0, 0}));
    }
    EXPECT_TRUE(layoutScreens({}, QRectF(0, 0, 100, 100)).empty());
}

TEST(RigGeometry, EveryControlIsFoundWhereItIsDrawn) {
    {
        SCOPED_TRACE("the MPC Touch");
        const MpcTouchLayout mpc = mpcTouchLayout(QRectF(0, 0, 420, 260));
        for (int pad = 1; pad <= 16; ++pad)
            EXPECT_EQ(mpc.padAt(mpc.pads[size_t(pad - 1)].center()), pad);
        for (size_t i = 0; i < mpcButtons.size(); ++i)
            EXPECT_EQ(mpc.buttonAt(mpc.buttons[i].center()), int(i)) << mpcButtons[i].title;
        // Pad 1 at the bottom left, 4 at the bottom right, 13 at the top left, as on the device.
        EXPECT_GT(mpc.pads[0].top(), mpc.pads[12].top());
        EXPECT_EQ(mpc.pads[0].left(), mpc.pads[12].left());
        EXPECT_GT(mpc.pads[3].left(), mpc.pads[0].left());
        EXPECT_EQ(mpc.padAt(QPointF(1, 1)), std::nullopt);
    }
    {
        SCOPED_TRACE("the Push 2");
        const Push2Layout push = push2Layout(QRectF(0, 0, 700, 600));
        for (int pad = 0; pad < 64; ++pad)
            EXPECT_EQ(push.padAt(push.pads[size_t(pad)].center()), pad);
        EXPECT_GT(push.pads[0].top(), push.pads[8].top()); // 0 bottom left, +8 upwards
        EXPECT_GT(push.pads[1].left(), push.pads[0].left());
        for (int encoder = 0; encoder < 11; ++encoder)
            EXPECT_EQ(push.encoderAt(push.encoders[size_t(encoder)].center()), encoder);
        // The display keeps its 960 × 160 shape, over the pads.
        EXPECT_NEAR(push.display.width() / push.display.height(), 6.0, 1e-9);
        EXPECT_NEAR(push.display.center().x(), (push.pads[0].center().x() + push.pads[7].center().x()) / 2,
                    1e-9);
        EXPECT_LT(push.display.bottom(), push.pads[56].top());
        // Every button the Koala controller answers, once, found where it lies.
        std::set<int> wanted{3, 9, 28, 29, 30, 31, 35};
        auto add = [&](int from, int to) {
            for (int cc = from; cc <= to; ++cc)
                wanted.insert(cc);
        };
        add(20, 27);   // the lower display row
        add(36, 63);   // the scene column and the right side
        add(85, 90);   // transport and sequencing
        add(102, 113); // the upper display row, Device, Browse, Mix, Clip
        add(116, 119);
        std::multiset<int> placed;
        for (const auto& button : push.buttons) {
            placed.insert(button.button.cc);
            EXPECT_EQ(push.buttonAt(button.rect.center()), button.button.cc);
            EXPECT_FALSE(push.padAt(button.rect.center())) << button.button.cc;
        }
        EXPECT_EQ(std::set<int>(placed.begin(), placed.end()), wanted);
        EXPECT_EQ(placed.size(), wanted.size()); // none twice
    }
}

TEST(RigArt, Push2PixelsDecodeAsTheDisplayTransportEncodes) {
    const QColor colours[] = {{255, 0, 0}, {0, 255, 0},           {0, 0, 255},     {255, 255, 255},
                              {0, 0, 0},   KoalaLook::background, KoalaLook::pink, KoalaLook::blue};
    std::vector<uint8_t> rgba;
    for (const QColor& colour : colours) {
        rgba.insert(rgba.end(),
                    {uint8_t(colour.red()), uint8_t(colour.green()), uint8_t(colour.blue()), 255});
    }
    std::vector<uint16_t> encoded(std::size(colours));
    push2_convert_rgba(rgba.data(), encoded.data(), int(encoded.size()));
    for (size_t i = 0; i < encoded.size(); ++i) {
        // Five or six bits a channel lose at most the low three.
        EXPECT_LE(distance(RigArt::push2Pixel(encoded[i]), colours[i]), 7) << colours[i].name().toStdString();
    }
    // Full scale stays full scale.
    EXPECT_EQ(RigArt::push2Pixel(0xFFFF), QColor(255, 255, 255));

    std::vector<uint16_t> frame(960 * 160, encoded[0]);
    frame[160 * 0 + 959] = encoded[2];
    frame[960 * 159] = encoded[1];
    const QImage image = RigArt::push2Frame(frame);
    ASSERT_EQ(image.size(), QSize(960, 160));
    EXPECT_EQ(image.pixelColor(0, 0), RigArt::push2Pixel(encoded[0]));
    EXPECT_EQ(image.pixelColor(959, 0), RigArt::push2Pixel(encoded[2]));
    EXPECT_EQ(image.pixelColor(0, 159), RigArt::push2Pixel(encoded[1]));
    EXPECT_TRUE(RigArt::push2Frame(std::vector<uint16_t>(960 * 159)).isNull());
}

// The card's own picture at the same spot, for comparing with the rig's.
QColor cardPixel(const std::string& status, QPoint at) {
    return TandemCardArt::render(QSize(1280, 800), status).pixelColor(at);
}

TEST(RigArt, TheMpcScreenWhileTandemBringsKoalaUp) {
    AppRig r;
    const QPoint ground(60, 300); // Koala's bare background once it runs, under no panel
    {
        SCOPED_TRACE("the MPC screen with nothing on it");
        r.rig.placeMpcScreen(SimRig::MpcScreen::leftOfMain);
        EXPECT_EQ(RigArt::mpcScreen(r.mac, QSize(1280, 800)).pixelColor(ground), RigArt::desktop);
        r.rig.placeMpcScreen(SimRig::MpcScreen::none);
        EXPECT_EQ(RigArt::mpcScreen(r.mac, QSize(320, 200)).size(), QSize(320, 200));
    }
    r.rig.placeMpcScreen(SimRig::MpcScreen::leftOfMain);
    r.rig.mpc.plug();
    r.launch();
    r.pick(ControllerPick::mpcTouch);
    {
        SCOPED_TRACE("the card covers the MPC screen while Tandem starts");
        const auto cards = r.desktop.openCards();
        ASSERT_EQ(cards.size(), 2u);
        const QImage screen = RigArt::mpcScreen(r.mac, QSize(1280, 800));
        EXPECT_LE(distance(screen.pixelColor(ground), cardPixel(cards[1]->status, ground)), 2);
        EXPECT_LE(distance(screen.pixelColor(ground), CardBackdrop::backdrop), 24);
    }
    ASSERT_TRUE(r.bringUpMpcTouch()) << r.app->status();
    ASSERT_TRUE(r.desktop.openCards().empty());

    const QRectF window(0, 0, 1280, 800); // Koala fills the MPC screen
    auto bankPixel = [&](const QImage& image, int bank) {
        const QRectF button = Koala::bankButton(window, bank);
        return pixel(image, QPointF(button.left() + 3, button.center().y()));
    };
    SimPanel* banks = r.rig.panels.panelWith("A");
    ASSERT_TRUE(banks);
    // A panel button's face, clear of its title, in the picture.
    auto panelButtonPixel = [&](const QImage& image, int tag) {
        const QPointF topLeft(banks->origin().x + 1280, 800 - banks->origin().y - banks->plan().size.height);
        const QRectF button = PanelArt::buttonRect(banks->plan(), *banks->button(tag), topLeft);
        return pixel(image, button.topLeft() + QPointF(6, 6));
    };
    {
        SCOPED_TRACE("Koala full screen, bank A shown, the overlay's bank panel over it");
        ASSERT_EQ(r.rig.koala.shownBank(), 0);
        const QImage screen = RigArt::mpcScreen(r.mac, QSize(1280, 800));
        EXPECT_EQ(screen.pixelColor(ground), KoalaLook::background);
        EXPECT_EQ(bankPixel(screen, 0), KoalaLook::bank(0));
        for (int bank = 1; bank < 4; ++bank)
            EXPECT_EQ(bankPixel(screen, bank), KoalaLook::grey) << bank;
        const QColor on = panelButtonPixel(screen, 0), off = panelButtonPixel(screen, 1);
        EXPECT_GT(on.lightnessF(), 0.6);
        EXPECT_GT(on.red() - on.blue(), 15); // tinted in the accent
        EXPECT_LE(distance(off, CardBackdrop::face), 3);
    }
    {
        SCOPED_TRACE("bank C on the MPC: Koala shows C, and so does the overlay");
        r.rig.mpc.press(37);
        r.rig.mpc.release(37);
        ASSERT_TRUE(r.runUntil([&] { return r.rig.koala.shownBank() == 2; }, 5));
        r.run(0.5);
        const QImage screen = RigArt::mpcScreen(r.mac, QSize(1280, 800));
        EXPECT_EQ(bankPixel(screen, 2), KoalaLook::bank(2));
        EXPECT_EQ(bankPixel(screen, 0), KoalaLook::grey);
        EXPECT_GT(panelButtonPixel(screen, 2).red() - panelButtonPixel(screen, 2).blue(), 15);
        EXPECT_LE(distance(panelButtonPixel(screen, 0), CardBackdrop::face), 3);
    }
    {
        SCOPED_TRACE("a touch on the sequence tab: Koala's sequence page, the bank panel gone");
        ASSERT_TRUE(r.rig.touchDriver.touch(r.rig.mpcPoint(0.45, 0.05)));
        r.run(0.5);
        ASSERT_EQ(r.rig.koala.page(), "sequence");
        ASSERT_FALSE(banks->isVisible());
        const QImage screen = RigArt::mpcScreen(r.mac, QSize(1280, 800));
        auto tabPixel = [&](size_t tab) {
            const QRectF rect = Koala::tab(window, tab);
            return pixel(screen, QPointF(rect.left() + 6, rect.center().y()));
        };
        EXPECT_EQ(tabPixel(1), KoalaLook::pink);
        EXPECT_EQ(tabPixel(0), KoalaLook::background);
        const QRectF keys = Koala::keyboardButton(window);
        EXPECT_EQ(pixel(screen, keys.topLeft() + QPointF(6, keys.height() / 2)), KoalaLook::grey);
        EXPECT_EQ(panelButtonPixel(screen, 0), KoalaLook::background);
    }
    {
        SCOPED_TRACE("the screens side by side hold the same MPC screen, scaled");
        QImage both(1360, 566, QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&both);
        RigArt::drawScreens(painter, both.rect(), r.mac);
        painter.end();
        const auto areas = layoutScreens(r.rig.screens.screens(), QRectF(both.rect()), RigArt::screensMargin);
        const ScreenArea& mpc = areas[1];
        const QRectF button = Koala::bankButton(mpc.area, 2);
        EXPECT_LE(distance(pixel(both, QPointF(button.left() + 2, button.center().y())), KoalaLook::bank(2)),
                  2);
        EXPECT_LE(distance(pixel(both, areas[0].area.center()), RigArt::desktop),
                  2); // the main screen is bare
    }
}

TEST(RigArt, ThePushShowsItsDecodedDisplayPadColoursAndLitButtons) {
    AppRig r;
    ASSERT_TRUE(r.bringUpPush2()) << r.app->status();
    r.run(0.5);
    const auto frame = r.rig.pushDisplay.lastImage();
    ASSERT_TRUE(frame);
    const QImage decoded = RigArt::push2Frame(*frame);

    // Koala's dark ground is what the Push's screen shows most of.
    std::map<QRgb, int> counts;
    for (int y = 0; y < 160; ++y)
        for (int x = 0; x < 960; ++x)
            ++counts[decoded.pixel(x, y)];
    const auto most = std::max_element(counts.begin(), counts.end(),
                                       [](const auto& a, const auto& b) { return a.second < b.second; });
    EXPECT_LE(distance(QColor::fromRgb(most->first), KoalaLook::background), 8);
    ASSERT_GT(counts.size(), 4u); // text and shapes besides

    // Drawn where the display is 960 × 160, one picture pixel to a display pixel.
    const QRectF bounds(0, 0, 120 * 14.6, 120 * (11.5833333333 + 0.6));
    const Push2Layout layout = push2Layout(bounds);
    ASSERT_NEAR(layout.display.width(), 960, 0.01);
    ASSERT_NEAR(layout.display.height(), 160, 0.01);
    QImage picture(bounds.size().toSize(), QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::black);
    QPainter painter(&picture);
    RigArt::drawPush2(painter, bounds, r.rig.push, r.rig.pushDisplay);
    painter.end();
    const QPoint origin = layout.display.topLeft().toPoint();
    int compared = 0, matched = 0;
    for (int y = 1; y < 159; y += 3) {
        for (int x = 1; x < 959; x += 3) {
            const QColor expected = decoded.pixelColor(x, y);
            bool flat = true; // the neighbours agree, so a sub-pixel shift cannot matter
            for (int dy = -1; dy <= 1 && flat; ++dy)
                for (int dx = -1; dx <= 1 && flat; ++dx)
                    flat = decoded.pixelColor(x + dx, y + dy) == expected;
            if (!flat) continue;
            ++compared;
            if (distance(picture.pixelColor(origin + QPoint(x, y)), expected) <= 2) ++matched;
        }
    }
    EXPECT_GT(compared, 5000);
    EXPECT_EQ(matched, compared);

    // Pads in the palette colours Tandem wrote into the Push.
    int lit = 0;
    for (int pad = 0; pad < 64; ++pad) {
        const int value = r.rig.push.padLight(pad);
        const QColor drawn = pixel(picture, layout.pads[size_t(pad)].center());
        if (value <= 0) {
            EXPECT_EQ(drawn, RigArt::unlit) << pad;
            continue;
        }
        ++lit;
        ASSERT_GE(value, 100) << pad;
        ASSERT_LE(value, 125) << pad;
        const Push2RGB rgb = Push2Palette::rgb(Push2Color(value));
        EXPECT_EQ(drawn, QColor(rgb.r, rgb.g, rgb.b)) << pad;
    }
    EXPECT_GT(lit, 0);
    // The pad page's button lit in `selected`, the other upper buttons dim.
    const Push2RGB selected = Push2Palette::rgb(Push2Color::selected);
    const QRectF padPage = layout.button(102)->rect, eqPage = layout.button(103)->rect;
    EXPECT_EQ(pixel(picture, padPage.center()), QColor(selected.r, selected.g, selected.b));
    const Push2RGB dim = Push2Palette::rgb(Push2Color::koalaDimA);
    EXPECT_EQ(pixel(picture, eqPage.center()), QColor(dim.r, dim.g, dim.b));
}

TEST(RigText, NotesSettingsAndTheLogsTail) {
    std::vector<SimKoala::Played> played{{0, 36, std::nullopt, 100, 1.0, "Tandem"},
                                         {17, 53, std::nullopt, 90, 2.0, "Tandem Push"},
                                         {12, 61, 2, 127, 3.5, "Tandem"},
                                         {63, 99, std::nullopt, 64, 4.0, "Tandem"}};
    EXPECT_EQ(RigText::notes(played, "Tandem", 2), "D16 · note 99 · vel 64 · 4.00 s\n"
                                                   "A13 · note 61 · vel 127 · chop 2 · 3.50 s");
    EXPECT_EQ(RigText::notes(played, "Tandem Push", 4), "B2 · note 53 · vel 90 · 2.00 s");
    EXPECT_EQ(RigText::notes(played, "Other", 4), "—");

    SimKoala::Settings settings;
    settings.padChannel = 16;
    settings.keyboardChannel = 16;
    settings.noteOffset = 36;
    EXPECT_EQ(RigText::settings(settings), "pads ch 16 from note 36 · keyboard ch 16 · MIDI map off");
    settings.useMapping = true;
    settings.commands[{15, false, 40}] = {"/keyboard/toggle"};
    settings.commands[{14, true, 28}] = {"/perform/fx/stutter", "/perform/fx/talkbox"};
    EXPECT_EQ(RigText::settings(settings),
              "pads ch 16 from note 36 · keyboard ch 16 · MIDI map on (3 commands)");

    EXPECT_EQ(RigText::profile(true, false), "MPC Touch");
    EXPECT_EQ(RigText::profile(false, true), "Push 2");
    EXPECT_EQ(RigText::profile(false, false), "neither controller");

    EXPECT_EQ(RigText::tail("one\ntwo\n\nthree\nfour\n", 3),
              (std::vector<std::string>{"two", "three", "four"}));
    EXPECT_EQ(RigText::tail("one\ntwo", 5), (std::vector<std::string>{"one", "two"}));
    EXPECT_TRUE(RigText::tail("", 5).empty());
}

} // namespace
} // namespace tandem
