#include "tandem/integration/TandemOverlay.h"
#include "tandem/looks/CardBackdrop.h"

#include "support/ScratchHome.h"

#include <QImage>

#include <gtest/gtest.h>

namespace tandem {
namespace {

// Whether some pixel in the rectangle is close to the colour.
bool holds(const QImage& image, QRect area, QColor colour) {
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            QColor pixel = image.pixelColor(x, y);
            if (std::abs(pixel.red() - colour.red()) < 12 && std::abs(pixel.green() - colour.green()) < 12 &&
                std::abs(pixel.blue() - colour.blue()) < 12)
                return true;
        }
    }
    return false;
}

TEST(OverlayPreview, IsA480By80PictureWithTheSelectedBankInTheAccent) {
    testing::ScratchHome home;
    const auto file = home.path() / "controls.png";
    ASSERT_TRUE(TandemOverlay::writePreview(file).ok());
    QImage image(QString::fromStdString(file.string()));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(480, 80));

    // Bank A (selected) at 14…82 across, bank B at 86…154; both 16…64 down.
    const QColor accent = CardBackdrop::accent;
    EXPECT_TRUE(holds(image, QRect(13, 15, 4, 50), accent));
    EXPECT_FALSE(holds(image, QRect(85, 15, 4, 50), accent));
    EXPECT_FALSE(holds(image, QRect(318, 15, 4, 50), accent));            // MIXER is never selected
    EXPECT_TRUE(holds(image, QRect(2, 2, 6, 6), CardBackdrop::backdrop)); // the card's own ground

    const auto unwritable = home.path() / "missing-folder" / "controls.png";
    auto refused = TandemOverlay::writePreview(unwritable);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().description, "The file “controls.png” couldn’t be saved.");
}

} // namespace
} // namespace tandem
