#include "tandem/looks/TandemArtwork.h"
#include "tandem/looks/CardBackdrop.h"

#include "tandem/shell/qt/ArtProbes.h"

#include <gtest/gtest.h>

namespace tandem {
namespace {

namespace CB = CardBackdrop;
namespace TA = TandemArtwork;
using probes::nearRgb;

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
