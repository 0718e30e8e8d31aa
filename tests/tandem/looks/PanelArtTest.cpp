#include "tandem/looks/PanelArt.h"
#include "tandem/looks/CardBackdrop.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tandem {
namespace {

// The overlay's bank panel: four buttons along the bottom, the second one selected.
PanelPlan bankPanel(int selected) {
    PanelPlan plan{{292, 56}, {}};
    const char* titles[] = {"A", "B", "C", "D"};
    for (int tag = 0; tag < 4; ++tag) {
        bool on = tag == selected;
        plan.buttons.push_back({tag,
                                titles[tag],
                                {4.0 + 72 * tag, 4, 68, 48},
                                25,
                                FontWeight::bold,
                                on,
                                on ? PanelTint::accent : PanelTint::ink});
    }
    return plan;
}

// A panel whose one button sits low, so that a frame read y-down would land somewhere else.
PanelPlan lopsidedPanel(bool on) {
    return {{100, 60}, {{7, "X", {10, 5, 30, 20}, 13, FontWeight::regular, on, PanelTint::accent}}};
}

double distance(const QColor& a, const QColor& b) {
    return std::hypot(a.red() - b.red(), a.green() - b.green(), a.blue() - b.blue());
}

// Whether any pixel of the rectangle is close to `color`.
bool contains(const QImage& image, const QRect& area, const QColor& color, double within) {
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (distance(image.pixelColor(x, y), color) <= within) return true;
        }
    }
    return false;
}

TEST(PanelArt, ButtonAtFindsTagsWithTheFlip) {
    PanelPlan plan = lopsidedPanel(false);
    EXPECT_EQ(PanelArt::buttonAt(plan, {15, 40}), 7);
    EXPECT_EQ(PanelArt::buttonAt(plan, {15, 10}), std::nullopt) << "where the unflipped frame would be";
    // A button owns its top and left edges, not its bottom and right ones.
    EXPECT_EQ(PanelArt::buttonAt(plan, {10, 35}), 7);
    EXPECT_EQ(PanelArt::buttonAt(plan, {39.9, 54.9}), 7);
    EXPECT_EQ(PanelArt::buttonAt(plan, {40, 40}), std::nullopt);
    EXPECT_EQ(PanelArt::buttonAt(plan, {15, 55}), std::nullopt);

    PanelPlan bank = bankPanel(0);
    for (int tag = 0; tag < 4; ++tag)
        EXPECT_EQ(PanelArt::buttonAt(bank, {40.0 + 72 * tag, 28}), tag);
    EXPECT_EQ(PanelArt::buttonAt(bank, {74, 28}), std::nullopt) << "the gap between A and B";
    EXPECT_EQ(PanelArt::buttonAt(bank, {40, 2}), std::nullopt) << "the margin above the buttons";

    PanelPlan overlapping{{50, 50}, {{1, "under", {0, 0, 50, 50}}, {2, "over", {10, 10, 10, 10}}}};
    EXPECT_EQ(PanelArt::buttonAt(overlapping, {15, 35}), 2) << "the button drawn last is on top";
    EXPECT_EQ(PanelArt::buttonAt(overlapping, {5, 5}), 1);
}

TEST(PanelArt, SelectedBankIsTintedInTheAccent) {
    QImage image = PanelArt::render(bankPanel(1));
    ASSERT_EQ(image.size(), QSize(292, 56));
    // The border band just inside each button's frame, away from the title.
    auto band = [](int tag) { return QRect(4 + 72 * tag, 30, 2, 10); };
    EXPECT_TRUE(contains(image, band(1), CardBackdrop::accent, 30)) << "B is selected";
    for (int tag : {0, 2, 3}) {
        EXPECT_FALSE(contains(image, band(tag), CardBackdrop::accent, 60)) << "bank " << tag << " is not";
    }
    // The selected button's face is tinted too, not just its edge.
    QColor selectedFace = image.pixelColor(4 + 72 + 8, 10), plainFace = image.pixelColor(4 + 8, 10);
    EXPECT_GT(distance(selectedFace, plainFace), 20);
    EXPECT_LT(distance(selectedFace, CardBackdrop::accent), distance(plainFace, CardBackdrop::accent));

    // Moving the selection moves the tint.
    QImage moved = PanelArt::render(bankPanel(3));
    EXPECT_TRUE(contains(moved, band(3), CardBackdrop::accent, 30));
    EXPECT_FALSE(contains(moved, band(1), CardBackdrop::accent, 60));
}

} // namespace
} // namespace tandem
