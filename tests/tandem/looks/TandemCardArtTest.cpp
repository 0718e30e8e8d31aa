#include "tandem/looks/TandemCardArt.h"
#include "tandem/looks/CardBackdrop.h"

#include "tandem/shell/qt/ArtProbes.h"

#include <QPainter>

#include <gtest/gtest.h>

namespace tandem {
namespace {

namespace CB = CardBackdrop;
using probes::box;
using probes::nearRgb;

// The solid inside of dark-ink glyphs: the title is in ink, the other texts in the lighter muted ink.
const auto titleInk = nearRgb(CB::ink, 24);
const auto mutedText = nearRgb(CB::mutedInk, 20);

TEST(TandemCardArt, ScalesByTheSmallerRatioAndMeasuresUpFromTheBottom) {
    EXPECT_DOUBLE_EQ(TandemCardArt::scale({1280, 800}), 1);
    EXPECT_DOUBLE_EQ(TandemCardArt::scale({960, 600}), 0.75);
    EXPECT_DOUBLE_EQ(TandemCardArt::scale({1280, 1024}), 1) << "the height's ratio is the larger";
    EXPECT_DOUBLE_EQ(TandemCardArt::scale({640, 800}), 0.5) << "the width's ratio is the smaller";

    // Bounds away from the origin carry their corner along.
    const QRectF status = TandemCardArt::textRect({100, 50, 1280, 800}, TandemCardArt::statusLine);
    EXPECT_EQ(status, QRectF(140, 50 + 800 - 250 - 36, 1200, 36));
}

TEST(TandemCardArt, AnEmptyStatusDrawsNothingOnTheStatusLineButEverythingElse) {
    const QRect statusBand(40, 800 - 250 - 36, 1200, 36);
    QImage ground(1280, 800, QImage::Format_ARGB32_Premultiplied);
    ground.fill(CB::backdrop);
    QPainter painter(&ground);
    CB::background(painter, QRectF(0, 0, 1280, 800), 32);
    painter.end();

    const QImage empty = TandemCardArt::render({1280, 800}, "");
    EXPECT_EQ(probes::difference(empty, ground, statusBand).largest, 0) << "the status band is bare ground";
    EXPECT_FALSE(box(empty, QRect(0, 200, 1280, 140), titleInk).isEmpty()) << "the title";
    EXPECT_GT(probes::countNear(empty, QRect(440, 330, 400, 14), CB::accent, 30), 100) << "the rule";
    EXPECT_FALSE(box(empty, QRect(0, 376, 1280, 44), mutedText).isEmpty()) << "the subtitle";

    const QImage shown = TandemCardArt::render({1280, 800}, "MPC touch ready · starting its controls…");
    const QRect text = box(shown, statusBand, mutedText);
    ASSERT_FALSE(text.isEmpty()) << "a status draws in muted ink in its band";
    EXPECT_NEAR(text.center().x(), 640, 3) << "centred";
    EXPECT_TRUE(box(shown, QRect(0, 560, 1280, 240), mutedText).isEmpty()) << "and nowhere below it";
}

TEST(TandemCardArt, AHighResolutionCardIsDrawnAtItsOwnPixels) {
    // A window on a Retina-like screen paints at two pixels per point: the same card as one drawn
    // through a doubled painter, with the grid's lines as fine, not blown up from one pixel per point.
    QImage retina(2560, 1600, QImage::Format_ARGB32_Premultiplied);
    retina.setDevicePixelRatio(2);
    retina.fill(Qt::black);
    QPainter painter(&retina);
    TandemCardArt::draw(painter, QRectF(0, 0, 1280, 800), "Sharp");
    painter.end();

    QImage doubled(2560, 1600, QImage::Format_ARGB32_Premultiplied);
    doubled.fill(Qt::black);
    painter.begin(&doubled);
    painter.scale(2, 2);
    TandemCardArt::draw(painter, QRectF(0, 0, 1280, 800), "Sharp");
    painter.end();

    const probes::Difference change = probes::difference(retina, doubled);
    EXPECT_LT(change.mean, 0.2);
}

} // namespace
} // namespace tandem
