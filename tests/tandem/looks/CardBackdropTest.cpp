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

TEST(CardBackdropLine, WobbleIsFixedBySeed) {
    QPointF a(10, 20), b(110, 45);
    std::vector<QPointF> points = CB::linePoints(a, b, 3);
    ASSERT_EQ(points.size(), 8u);
    EXPECT_EQ(points.front(), a);
    EXPECT_EQ(points.back(), b);

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

TEST(CardBackdropFont, MissingFacesFallBackToNoteworthyThenTheSystemFont) {
    // Only the regular file shipped: a bold request cannot use it.
    CB::HandLettered regularOnly{"Scrawl Test", ""};
    CB::FontChoice noteworthy = CB::chooseFont(20, FontWeight::bold, regularOnly, {"Arial", "Noteworthy"});
    EXPECT_EQ(noteworthy.source, CB::FontChoice::Source::fallback);
    EXPECT_EQ(noteworthy.family, "Noteworthy");
    EXPECT_EQ(noteworthy.weight, QFont::Bold);
    EXPECT_TRUE(noteworthy.cascade.isEmpty());
    EXPECT_EQ(CB::chooseFont(20, FontWeight::regular, {}, {"Noteworthy"}).weight, QFont::Light);

    CB::FontChoice fallback = CB::chooseFont(10, FontWeight::semibold, {}, {"Arial", "DejaVu Sans"});
    EXPECT_EQ(fallback.source, CB::FontChoice::Source::system);
    EXPECT_TRUE(fallback.family.isEmpty());
    EXPECT_EQ(fallback.weight, QFont::DemiBold);
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
