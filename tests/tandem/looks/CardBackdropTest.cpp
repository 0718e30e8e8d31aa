#include "tandem/looks/CardBackdrop.h"
#include "tandem/looks/BackdropView.h"

#include "QtPrinters.h"
#include "base/ScratchFolder.h"
#include "support/ScratchHome.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>

#include <gtest/gtest.h>

#include <set>

namespace tandem {
namespace {

namespace CB = CardBackdrop;

struct GridLines {
    std::vector<double> xs; // vertical lines, in path order
    std::vector<double> ys; // horizontal lines
    std::vector<std::pair<double, double>> verticalSpans;
};

// The grid path is made of move-to/line-to pairs; a pair with one x is a vertical line.
GridLines linesOf(const QPainterPath& path) {
    GridLines lines;
    for (int i = 0; i + 1 < path.elementCount(); i += 2) {
        QPainterPath::Element from = path.elementAt(i), to = path.elementAt(i + 1);
        EXPECT_TRUE(from.isMoveTo());
        EXPECT_TRUE(to.isLineTo());
        if (from.x == to.x) {
            lines.xs.push_back(from.x);
            lines.verticalSpans.emplace_back(from.y, to.y);
        } else {
            EXPECT_EQ(from.y, to.y);
            lines.ys.push_back(from.y);
        }
    }
    return lines;
}

QImage whiteImage(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    return image;
}

QImage backgroundImage(const QRectF& rect, double spacing) {
    QImage image = whiteImage(100, 100);
    QPainter painter(&image);
    CB::background(painter, rect, spacing);
    painter.end();
    return image;
}

TEST(CardBackdropGrid, LastLineLiesOnTheEdgeOfAnExactMultiple) {
    // Each of these widths is an exact multiple in decimal, yet min + k × spacing lands a hair beyond
    // the edge in binary, where a plain comparison drops the last line.
    struct Case {
        QRectF rect;
        double spacing;
        std::vector<double> xs;
    };
    const std::vector<Case> cases = {
        {QRectF(0, 0, 0.3, 0.3), 0.1, {0, 0.1, 0.2, 0.3}},
        {QRectF(10, 10, 38.4, 38.4), 12.8, {10, 22.8, 35.6, 48.4}},
        {QRectF(0.1, 0.1, 0.6, 0.6), 0.1, {0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7}},
        {QRectF(0, 0, 64, 64), 32, {0, 32, 64}},
    };
    for (const Case& test : cases) {
        GridLines lines = linesOf(CB::gridPath(test.rect, test.spacing));
        ASSERT_EQ(lines.xs.size(), test.xs.size()) << test.rect.width() << " by " << test.spacing;
        ASSERT_EQ(lines.ys.size(), test.xs.size()) << test.rect.width() << " by " << test.spacing;
        for (size_t k = 0; k < test.xs.size(); ++k)
            EXPECT_NEAR(lines.xs[k], test.xs[k], 1e-12);
        EXPECT_EQ(lines.xs.back(), test.rect.right()) << "the last line is on the right edge itself";
        EXPECT_EQ(lines.ys.back(), test.rect.bottom()) << "the last line is on the bottom edge itself";
    }
}

TEST(CardBackdropGrid, LinesSpanTheRectangleAndStopShortOfAnInexactEdge) {
    GridLines lines = linesOf(CB::gridPath(QRectF(5, 7, 100, 50), 32));
    EXPECT_EQ(lines.xs, (std::vector<double>{5, 37, 69, 101}));
    EXPECT_EQ(lines.ys, (std::vector<double>{7, 39}));
    for (auto [top, bottom] : lines.verticalSpans) {
        EXPECT_EQ(top, 7);
        EXPECT_EQ(bottom, 57);
    }
    // Just under a multiple: no line beyond the edge.
    EXPECT_EQ(linesOf(CB::gridPath(QRectF(0, 0, 63.99, 10), 32)).xs, (std::vector<double>{0, 32}));
}

TEST(CardBackdropGrid, PixelsShowTheEdgeLinesOfAnExactMultiple) {
    // The same card with a spacing that is not a divisor of the size has no line at the right and
    // bottom edges, and the same fill and grain; so the edge pixels differ only by the edge lines.
    struct Case {
        QRectF rect;
        double spacing, controlSpacing;
        int edge;  // the pixel column (and row) the last line crosses
        int clear; // a column (and row) no line of either grid crosses
    };
    const std::vector<Case> cases = {
        {QRectF(10, 10, 64, 64), 32, 33, 73, 60},
        {QRectF(10, 10, 38.4, 38.4), 12.8, 12.9, 48, 42},
    };
    for (const Case& test : cases) {
        QImage ruled = backgroundImage(test.rect, test.spacing);
        QImage control = backgroundImage(test.rect, test.controlSpacing);
        int mid = test.clear;
        QColor ruledRight = ruled.pixelColor(test.edge, mid),
               controlRight = control.pixelColor(test.edge, mid);
        QColor ruledBottom = ruled.pixelColor(mid, test.edge),
               controlBottom = control.pixelColor(mid, test.edge);
        // The rule colour is darker and bluer than the backdrop.
        EXPECT_LT(ruledRight.red(), controlRight.red()) << "right edge, spacing " << test.spacing;
        EXPECT_LT(ruledBottom.red(), controlBottom.red()) << "bottom edge, spacing " << test.spacing;
        EXPECT_EQ(ruled.pixelColor(mid, mid), control.pixelColor(mid, mid)) << "away from every line";
    }
}

TEST(CardBackdropGrain, PositionsFollowTheGenerator) {
    std::vector<std::pair<int, int>> positions = CB::grainPositions();
    ASSERT_EQ(positions.size(), 1500u);
    // The first squares of the sequence, worked out by hand from the seed and the multiplier.
    const std::vector<std::pair<int, int>> first = {{64, 142}, {249, 110}, {140, 190}, {224, 120}, {4, 247}};
    EXPECT_EQ(std::vector(positions.begin(), positions.begin() + 5), first);
    EXPECT_EQ(CB::grainPositions(), positions) << "the same on every call";
    std::set<std::pair<int, int>> distinct(positions.begin(), positions.end());
    EXPECT_GT(distinct.size(), 1300u) << "scattered, not stuck on a few spots";
}

TEST(CardBackdropGrain, TextureHoldsExactlyTheGeneratedSquares) {
    QImage texture = CB::makeGrainTexture();
    ASSERT_EQ(texture.size(), QSize(256, 256));
    EXPECT_EQ(CB::makeGrainTexture(), texture) << "two renders are identical";
    EXPECT_EQ(CB::grain().textureImage(), texture) << "the kept brush holds the same tile";
    EXPECT_EQ(&CB::grain(), &CB::grain()) << "made once";

    std::vector<std::pair<int, int>> positions = CB::grainPositions();
    std::set<std::pair<int, int>> squares(positions.begin(), positions.end());
    int inked = 0;
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x) {
            int alpha = qAlpha(texture.pixel(x, y));
            bool expected = squares.count({x, y}) > 0;
            if (expected != (alpha > 0)) ADD_FAILURE() << "pixel " << x << "," << y << " alpha " << alpha;
            if (alpha > 0) {
                ++inked;
                EXPECT_LT(alpha, 12) << "a faint grain, not dots";
            }
        }
    }
    EXPECT_EQ(inked, static_cast<int>(squares.size()));
}

TEST(CardBackdropGrain, CardsLookTheSameWhereverTheyAreDrawn) {
    BackdropView view(QSizeF(70, 40));
    QImage alone = view.render();
    EXPECT_EQ(view.render(), alone) << "two renders are identical";

    QImage shifted = whiteImage(100, 80);
    QPainter painter(&shifted);
    view.paint(painter, QPointF(13, 29));
    painter.end();
    EXPECT_EQ(shifted.copy(13, 29, 70, 40).convertToFormat(alone.format()), alone);
}

TEST(CardBackdropLine, WobbleIsFixedBySeed) {
    QPointF a(10, 20), b(110, 45);
    std::vector<QPointF> points = CB::linePoints(a, b, 3);
    // d = hypot(100, 25) ≈ 103.08, so 7 segments; the expected corners are worked out by hand.
    ASSERT_EQ(points.size(), 8u);
    EXPECT_EQ(points.front(), a);
    EXPECT_EQ(points.back(), b);
    EXPECT_NEAR(points[1].x(), 24.327077197653267, 1e-9);
    EXPECT_NEAR(points[1].y(), 23.405976923672632, 1e-9);
    EXPECT_NEAR(points[6].x(), 95.7003545538491, 1e-9);
    EXPECT_NEAR(points[6].y(), 41.4842960703179, 1e-9);

    EXPECT_EQ(CB::linePoints(a, b, 3), points) << "same seed, same wobble";
    std::vector<QPointF> other = CB::linePoints(a, b, 4);
    ASSERT_EQ(other.size(), points.size());
    EXPECT_NE(other, points) << "another seed, another wobble";
    EXPECT_EQ(other.front(), a);
    EXPECT_EQ(other.back(), b);
    for (size_t i = 1; i + 1 < points.size(); ++i) {
        // The wobble stays within 0.65 of the straight line.
        double t = static_cast<double>(i) / 7;
        QPointF straight = a + (b - a) * t;
        EXPECT_LE(QLineF(straight, points[i]).length(), 0.65 + 1e-9);
    }
}

TEST(CardBackdropLine, ShortLinesStillBendOnce) {
    // Below 26 units the line has two segments; a zero-length line divides by 1, not 0.
    EXPECT_EQ(CB::linePoints(QPointF(0, 0), QPointF(25, 0), 1).size(), 3u);
    EXPECT_EQ(CB::linePoints(QPointF(0, 0), QPointF(26, 0), 1).size(), 3u);
    EXPECT_EQ(CB::linePoints(QPointF(0, 0), QPointF(39, 0), 1).size(), 4u);
    std::vector<QPointF> dot = CB::linePoints(QPointF(5, 5), QPointF(5, 5), 0);
    ASSERT_EQ(dot.size(), 3u);
    EXPECT_DOUBLE_EQ(dot[1].x(), 5);
    EXPECT_DOUBLE_EQ(dot[1].y(), 5);
}

TEST(CardBackdropLine, StrokesThroughItsCorners) {
    QImage image = whiteImage(200, 60);
    QPainter painter(&image);
    CB::line(painter, QPointF(10, 30), QPointF(190, 30), 5, 3, CB::ink);
    painter.end();
    for (QPointF corner : CB::linePoints(QPointF(10, 30), QPointF(190, 30), 5)) {
        QColor pixel = image.pixelColor(corner.toPoint());
        EXPECT_LT(pixel.red(), 120) << "inked at " << corner.x() << "," << corner.y();
    }
    EXPECT_EQ(image.pixelColor(100, 5), QColor(Qt::white)) << "nothing far from the line";
    // Round caps reach past the ends by half the width.
    EXPECT_LT(image.pixelColor(9, 30).red(), 250);
}

const CB::HandLettered scrawl{"Scrawl Test", "Scrawl Test Bold"};
const QStringList cascade = {"Noteworthy", "Apple Symbols", "Lucida Grande"};

TEST(CardBackdropFont, HandLetteredFaceComesFirstWithItsCascade) {
    CB::FontChoice regular = CB::chooseFont(25, FontWeight::regular, scrawl, {"Noteworthy"});
    EXPECT_EQ(regular.source, CB::FontChoice::Source::handLettered);
    EXPECT_EQ(regular.family, "Scrawl Test");
    EXPECT_FALSE(regular.bold);
    EXPECT_EQ(regular.pixelSize, 30);
    EXPECT_EQ(regular.cascade, cascade);

    CB::FontChoice bold = CB::chooseFont(23, FontWeight::bold, scrawl, {});
    EXPECT_EQ(bold.source, CB::FontChoice::Source::handLettered);
    EXPECT_EQ(bold.family, "Scrawl Test Bold");
    EXPECT_EQ(bold.weight, QFont::Bold);
    EXPECT_EQ(bold.pixelSize, 28) << "23 × 1.2 = 27.6, to whole pixels";
    EXPECT_EQ(bold.cascade, cascade);
}

TEST(CardBackdropFont, BoldStartsAtSemibold) {
    EXPECT_FALSE(CB::chooseFont(16, FontWeight::medium, scrawl, {}).bold);
    EXPECT_EQ(CB::chooseFont(16, FontWeight::medium, scrawl, {}).family, "Scrawl Test");
    EXPECT_TRUE(CB::chooseFont(16, FontWeight::semibold, scrawl, {}).bold);
    EXPECT_EQ(CB::chooseFont(16, FontWeight::semibold, scrawl, {}).family, "Scrawl Test Bold");
    EXPECT_EQ(CB::chooseFont(16, FontWeight::medium, scrawl, {}).pixelSize, 19);
}

TEST(CardBackdropFont, MissingFacesFallBackToNoteworthyThenTheSystemFont) {
    // Only the regular file shipped: a bold request cannot use it.
    CB::HandLettered regularOnly{"Scrawl Test", ""};
    CB::FontChoice noteworthy = CB::chooseFont(20, FontWeight::bold, regularOnly, {"Arial", "Noteworthy"});
    EXPECT_EQ(noteworthy.source, CB::FontChoice::Source::fallback);
    EXPECT_EQ(noteworthy.family, "Noteworthy");
    EXPECT_EQ(noteworthy.weight, QFont::Bold);
    EXPECT_TRUE(noteworthy.cascade.isEmpty());
    EXPECT_EQ(CB::chooseFont(20, FontWeight::regular, {}, {"Noteworthy"}).weight, QFont::Light);

    for (auto [weight, qtWeight] : {std::pair{FontWeight::regular, QFont::Normal},
                                    {FontWeight::medium, QFont::Medium},
                                    {FontWeight::semibold, QFont::DemiBold},
                                    {FontWeight::bold, QFont::Bold}}) {
        CB::FontChoice system = CB::chooseFont(10, weight, {}, {"Arial", "DejaVu Sans"});
        EXPECT_EQ(system.source, CB::FontChoice::Source::system);
        EXPECT_TRUE(system.family.isEmpty());
        EXPECT_EQ(system.weight, qtWeight);
        EXPECT_EQ(system.pixelSize, 12);
    }
    QFont system = CB::makeFont(CB::chooseFont(10, FontWeight::medium, {}, {}));
    EXPECT_EQ(system.family(), QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());
    EXPECT_EQ(system.pixelSize(), 12);
    EXPECT_EQ(system.weight(), QFont::Medium);
}

TEST(CardBackdropFont, RegistrationSkipsMissingAndUnreadableFiles) {
    ScratchFolder scratch("tandem-looks-");
    ASSERT_TRUE(scratch.made().ok());
    EXPECT_EQ(CB::registerHandLettered(scratch.path()), CB::HandLettered{});
    testing::ScratchHome::write(scratch.path() / "ScrawlHand-Regular.otf", "not a font");
    EXPECT_EQ(CB::registerHandLettered(scratch.path()), CB::HandLettered{});
}

TEST(CardBackdropFont, ShippedFacesAreRegisteredAndCascaded) {
    const CB::HandLettered& faces = CB::handLettered();
#if TANDEM_SCRAWLHAND_SHIPPED
    ASSERT_FALSE(faces.regular.isEmpty()) << "the build copies the hand-lettered files into the resources";
    ASSERT_FALSE(faces.bold.isEmpty());
    QFont bold = CB::font(25, FontWeight::bold);
    EXPECT_EQ(bold.family(), faces.bold);
    EXPECT_EQ(bold.weight(), QFont::Bold);
    EXPECT_EQ(bold.pixelSize(), 30);
    // Qt keeps substitutes in lower case; family names are matched regardless of case.
    EXPECT_EQ(QFont::substitutes(faces.bold).mid(0, 3).join(','), cascade.join(',').toLower());
    QFont regular = CB::font(13, FontWeight::regular);
    EXPECT_EQ(regular.family(), faces.regular);
    EXPECT_EQ(QFontInfo(regular).family(), faces.regular) << "Qt really has the face";
#else
    EXPECT_EQ(faces, CB::HandLettered{});
    EXPECT_EQ(CB::font(13, FontWeight::regular).family(),
              QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());
#endif
}

TEST(CardBackdropFont, SizesArePixelsOnEveryDevice) {
    // A QImage defaults to 96 dpi, where a point size would come out 4/3 larger than on a 72 dpi one.
    QFont font = CB::font(20, FontWeight::regular);
    QImage at96 = whiteImage(10, 10);
    QImage at72 = whiteImage(10, 10);
    at72.setDotsPerMeterX(2835);
    at72.setDotsPerMeterY(2835);
    ASSERT_NE(at96.logicalDpiY(), at72.logicalDpiY());
    EXPECT_DOUBLE_EQ(QFontMetricsF(font, &at96).height(), QFontMetricsF(font, &at72).height());
    EXPECT_EQ(QFontInfo(font).pixelSize(), 24);
}

} // namespace
} // namespace tandem
