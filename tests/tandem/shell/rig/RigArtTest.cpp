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
        const QRectF button = Koala::bankButton(mpc.area, 0);
        EXPECT_LE(distance(pixel(both, QPointF(button.left() + 2, button.center().y())), KoalaLook::bank(0)),
                  2);
        EXPECT_LE(distance(pixel(both, areas[0].area.center()), RigArt::desktop),
                  2); // the main screen is bare
    }
}

} // namespace
} // namespace tandem
