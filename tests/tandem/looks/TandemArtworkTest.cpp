#include "tandem/looks/TandemArtwork.h"
#include "tandem/looks/CardBackdrop.h"

#include "tandem/shell/qt/ArtProbes.h"

#include <gtest/gtest.h>

namespace tandem {
namespace {

namespace CB = CardBackdrop;
namespace TA = TandemArtwork;
using probes::nearRgb;

QPoint scaled(QPointF canvasPoint, int pixels) {
    return (canvasPoint * pixels / TA::iconCanvas).toPoint();
}

TEST(TandemArtwork, TheIconIsOneDesignAtEverySize) {
    const QImage large = TA::icon(1024);
    ASSERT_EQ(large.size(), QSize(1024, 1024));
    for (int pixels : {16, 32, 64, 128, 256, 512}) {
        const QImage icon = TA::icon(pixels);
        ASSERT_EQ(icon.size(), QSize(pixels, pixels));
        // The large one brought down to this size looks the same, alpha included.
        const QImage reduced = large.scaled(pixels, pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const probes::Difference change = probes::difference(icon, reduced);
        // Below 64 pixels the strokes are thinner than a pixel, so rendering and reducing round apart.
        EXPECT_LT(change.mean, pixels <= 16 ? 12.0 : pixels <= 32 ? 9.0 : 4.0) << pixels;
        int alphaChange = 0;
        for (int y = 0; y < pixels; ++y)
            for (int x = 0; x < pixels; ++x)
                alphaChange += std::abs(icon.pixelColor(x, y).alpha() - reduced.pixelColor(x, y).alpha());
        EXPECT_LT(double(alphaChange) / (pixels * pixels), 8.0) << pixels;
    }
    EXPECT_TRUE(TA::icon(0).isNull());
}

TEST(TandemArtwork, TheIconIsARoundedFaceWithAPinkPadAndAMarkedOne) {
    for (int pixels : {64, 256, 1024}) {
        const QImage icon = TA::icon(pixels);
        EXPECT_EQ(icon.pixelColor(0, 0).alpha(), 0) << "transparent outside the body, " << pixels;
        EXPECT_EQ(icon.pixelColor(pixels - 1, 0).alpha(), 0) << pixels;
        // The body's rounded corner leaves its own corner clear.
        EXPECT_LT(icon.pixelColor(scaled({104, 104}, pixels)).alpha(), 60) << pixels;
        EXPECT_TRUE(nearRgb(CB::koala, 12)(icon.pixelColor(scaled(TA::iconPad(0).center(), pixels))))
            << "the hit pad, " << pixels;
        EXPECT_TRUE(nearRgb(CB::marker, 12)(icon.pixelColor(scaled(TA::iconPad(3).center(), pixels))))
            << "the marked pad, " << pixels;
        EXPECT_TRUE(nearRgb(CB::face, 12)(icon.pixelColor(scaled(TA::iconPad(1).center(), pixels))))
            << pixels;
        EXPECT_EQ(icon.pixelColor(scaled(TA::iconPad(1).center(), pixels)).alpha(), 255) << "opaque body";
    }
    const QImage large = TA::icon(1024);
    EXPECT_GT(probes::countNear(large, QRect(240, 770, 544, 100), CB::accent, 20), 2000) << "the rule";
    EXPECT_GT(probes::countNear(large, TA::iconPad(2).toRect(), CB::ink, 20), 2000) << "an inked outline";
}

TEST(TandemArtwork, TheApplicationIconOffersTheSmallAndLargeSizes) {
    const QIcon set = TA::applicationIcon();
    const QList<QSize> sizes = set.availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
    EXPECT_TRUE(sizes.contains(QSize(512, 512)));
    EXPECT_EQ(set.pixmap(QSize(32, 32)).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
              TA::icon(32));
}

TEST(TandemArtwork, InstallerBackgroundsPointFromTheApplicationToTheFolder) {
    struct Case {
        TA::Appearance appearance;
        QColor ground;
        QColor arrow;
        QColor title;
    };
    for (const Case& look : {Case{TA::Appearance::light, CB::backdrop, CB::accent, CB::ink},
                             Case{TA::Appearance::dark, TA::nightBackdrop, CB::marker, CB::face}}) {
        const QImage art = TA::installerBackground(look.appearance);
        ASSERT_EQ(art.size(), TA::installerSize);
        EXPECT_TRUE(nearRgb(look.ground, 10)(art.pixelColor(3, 380)));
        // The arrow spans the gap between the two icons at their height, and stays out of their way.
        const QRect arrow = probes::box(art, QRect(0, 150, 660, 100), nearRgb(look.arrow, 40));
        ASSERT_FALSE(arrow.isEmpty());
        EXPECT_GT(arrow.left(), TA::installerApplication.x() + 64);
        EXPECT_LT(arrow.right(), TA::installerApplications.x() - 64);
        EXPECT_GT(arrow.width(), 120);
        EXPECT_NEAR(arrow.center().y(), TA::installerApplication.y(), 8);
        // The icons' own squares are left to the ground.
        const QRect application(TA::installerApplication.toPoint() - QPoint(64, 64), QSize(128, 128));
        EXPECT_TRUE(probes::box(art, application, nearRgb(look.arrow, 40)).isEmpty());
        EXPECT_TRUE(probes::box(art, application, nearRgb(look.title, 30)).isEmpty());
        EXPECT_FALSE(probes::box(art, QRect(0, 20, 660, 70), nearRgb(look.title, 30)).isEmpty()) << "a title";
    }
    EXPECT_NE(TA::installerBackground(TA::Appearance::light), TA::installerBackground(TA::Appearance::dark));
}

} // namespace
} // namespace tandem
