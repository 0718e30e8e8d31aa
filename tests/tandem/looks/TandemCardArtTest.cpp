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

// Where a text centred in a rectangle lands with a font: drawn alone on the ground, as Qt lays it out.
QRect inkOfText(QSize size, const QRectF& rect, const QFont& font, const QString& text) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(CB::backdrop);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setFont(font);
    painter.setPen(CB::ink);
    painter.drawText(rect, Qt::AlignCenter, text);
    painter.end();
    return box(image, image.rect(), titleInk);
}

TEST(TandemCardArt, ScalesByTheSmallerRatioAndMeasuresUpFromTheBottom) {
    EXPECT_DOUBLE_EQ(TandemCardArt::scale({1280, 800}), 1);
    EXPECT_DOUBLE_EQ(TandemCardArt::scale({960, 600}), 0.75);
    EXPECT_DOUBLE_EQ(TandemCardArt::scale({1280, 1024}), 1) << "the height's ratio is the larger";
    EXPECT_DOUBLE_EQ(TandemCardArt::scale({640, 800}), 0.5) << "the width's ratio is the smaller";

    // The title at 960 × 600: 40 s in, 470 s up from the bottom, 64 × 1.8 s high.
    const QRectF title = TandemCardArt::textRect({0, 0, 960, 600}, TandemCardArt::titleLine);
    EXPECT_DOUBLE_EQ(title.left(), 30);
    EXPECT_DOUBLE_EQ(title.width(), 900);
    EXPECT_DOUBLE_EQ(title.bottom(), 600 - 352.5);
    EXPECT_DOUBLE_EQ(title.height(), 86.4);
    // Bounds away from the origin carry their corner along.
    const QRectF status = TandemCardArt::textRect({100, 50, 1280, 800}, TandemCardArt::statusLine);
    EXPECT_EQ(status, QRectF(140, 50 + 800 - 250 - 36, 1200, 36));
}

TEST(TandemCardArt, TheTitleAt960By600IsDrawnAtThreeQuartersScale) {
    const QImage card = TandemCardArt::render({960, 600}, "Starting");
    ASSERT_EQ(card.size(), QSize(960, 600));
    const QRect title = box(card, QRect(0, 0, 960, 280), titleInk);
    ASSERT_FALSE(title.isEmpty()) << "no title drawn";

    // The same word, in the card's face at 48 × 1.2 pixels, centred in the rectangle 352.5 up from the
    // bottom and 86.4 high.
    const QRect expected = inkOfText({960, 600}, QRectF(30, 600 - 352.5 - 86.4, 900, 86.4),
                                     CB::font(48, FontWeight::bold), "TANDEM");
    ASSERT_FALSE(expected.isEmpty());
    EXPECT_NEAR(title.top(), expected.top(), 1);
    EXPECT_NEAR(title.bottom(), expected.bottom(), 1);
    EXPECT_NEAR(title.left(), expected.left(), 1);
    EXPECT_NEAR(title.right(), expected.right(), 1);

    // Against the full-size card: three quarters as tall, at three quarters of the height from the bottom.
    const QImage full = TandemCardArt::render({1280, 800}, "Starting");
    const QRect fullTitle = box(full, QRect(0, 0, 1280, 380), titleInk);
    EXPECT_NEAR(title.height(), fullTitle.height() * 0.75, 2);
    EXPECT_NEAR(600 - title.bottom(), (800 - fullTitle.bottom()) * 0.75, 2);
    EXPECT_NEAR(title.center().x(), 480, 2);
}

TEST(TandemCardArt, ATallCardKeepsTheDesignsPositionsAndLeavesTheTopToTheGround) {
    const std::string status = "Waiting for the MPC's screen";
    const QImage tall = TandemCardArt::render({1280, 1024}, status);
    const QImage designed = TandemCardArt::render({1280, 800}, status);

    // The lower 800 rows are the designed card; only the grain, tiled from the top, sits differently.
    const QImage lower = tall.copy(0, 224, 1280, 800);
    const probes::Difference change = probes::difference(lower, designed);
    EXPECT_LE(change.largest, 8);
    EXPECT_LT(change.mean, 1.0);
    EXPECT_FALSE(box(lower, QRect(0, 0, 1280, 400), titleInk).isEmpty());

    // Above the design: the ruled ground only, nothing as dark as any text or the accent rule.
    const QRect top(0, 0, 1280, 224);
    EXPECT_TRUE(box(tall, top, [](const QColor& c) { return c.lightness() < 200; }).isEmpty());
    EXPECT_TRUE(box(tall, top, nearRgb(CB::accent, 60)).isEmpty());
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

TEST(TandemCardArt, TheRuleRunsUnderTheTitleAcrossTheCentre) {
    const QImage card = TandemCardArt::render({960, 600}, "");
    // From 480 − 142.5 to 480 + 142.5 across, about 346.5 up from the bottom.
    const QRect rule = box(card, QRect(0, 230, 960, 40), nearRgb(CB::accent, 30));
    ASSERT_FALSE(rule.isEmpty());
    EXPECT_NEAR(rule.left(), 480 - 142.5, 2);
    EXPECT_NEAR(rule.right(), 480 + 142.5, 2);
    EXPECT_NEAR(rule.center().y(), 600 - 346.5, 2);
}

TEST(TandemCardArt, DrawsIntoBoundsAnywhereOnAPainter) {
    // A card drawn into a corner of a larger picture is the card on its own, moved.
    QImage sheet(1000, 700, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(Qt::black);
    QPainter painter(&sheet);
    TandemCardArt::draw(painter, QRectF(20, 50, 640, 400), "Moved");
    painter.end();
    const QImage alone = TandemCardArt::render({640, 400}, "Moved");
    EXPECT_LE(probes::difference(sheet.copy(20, 50, 640, 400), alone).largest, 1);
    EXPECT_EQ(sheet.pixelColor(10, 40), QColor(Qt::black)) << "nothing outside the bounds";
    EXPECT_EQ(sheet.pixelColor(661, 451), QColor(Qt::black));
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
