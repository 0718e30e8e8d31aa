#include "tandem/push/art/KoalaScreenArt.h"

#include "ScreenProbes.h"
#include "ScreenViews.h"
#include "push2_display/push2_display.h"
#include "tandem/looks/KoalaLook.h"

#include <QPainter>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace tandem {
namespace {

namespace Art = KoalaScreenArt;
namespace Look = KoalaLook;
using probes::count;
using probes::countNear;

const QColor backgroundRgb(45, 39, 39);
const QColor pinkRgb(255, 40, 99);

bool whitish(const QColor& pixel) {
    return std::min({pixel.red(), pixel.green(), pixel.blue()}) > 140;
}

TEST(KoalaScreenGeometry, MiddleShowsOneThingByPriority) {
    KoalaView pad = screens::padPage();
    EXPECT_EQ(Art::middle(pad), Art::Middle::waveform);
    pad.big = "KEYBOARD: CHOOSING A PAD";
    EXPECT_EQ(Art::middle(pad), Art::Middle::big) << "big text wins";
    pad = screens::padPage();
    pad.wave.reset();
    EXPECT_EQ(Art::middle(pad), Art::Middle::cells) << "without a waveform the knobs show";
    EXPECT_EQ(Art::middle(screens::fxPage()), Art::Middle::effects);
    EXPECT_EQ(Art::middle(screens::sequencePage()), Art::Middle::pattern);
    EXPECT_EQ(Art::middle(screens::eqPage()), Art::Middle::cells);
    KoalaView waveOnEq = screens::eqPage();
    waveOnEq.wave = screens::padPage().wave;
    EXPECT_EQ(Art::middle(waveOnEq), Art::Middle::cells) << "the waveform belongs to the pad page";
}

TEST(KoalaScreenRender, IsRgbaBytesAsTheDisplayConversionReadsThem) {
    QImage image = Art::render(screens::padPage());
    ASSERT_EQ(image.size(), QSize(960, 160));
    ASSERT_EQ(image.format(), QImage::Format_RGBA8888_Premultiplied);
    // Through the display's own conversion: red in bits 0-4, green 5-10, blue 11-15.
    auto display = [&](int x, int y) {
        uint16_t pixel = 0;
        push2_convert_rgba(image.constScanLine(y) + 4 * x, &pixel, 1);
        return pixel;
    };
    EXPECT_EQ(display(0, 0), (45 >> 3) | (39 >> 2) << 5 | (39 >> 3) << 11);
    EXPECT_EQ(display(14, 11), (0 >> 3) | (203 >> 2) << 5 | (234 >> 3) << 11)
        << "the shown page's box in blue";
}

TEST(KoalaScreenEmpty, EmptyLabelsStringsAndCellsDrawNothing) {
    // Everything empty, even where a set names the index: only the background and the two rules.
    for (int page : {0, 1, 2, 4}) {
        KoalaView view;
        view.page = page;
        view.upper.assign(8, "");
        view.lower.assign(8, "");
        view.upperAlt = {5};
        view.lowerOn = {2};
        view.lowerHeld = {3};
        view.lowerDim = {4};
        view.cells.assign(8, KoalaView::Cell{"", "", std::nullopt, true, true, true});
        view.cellsTop = view.cells;
        QImage image = Art::render(view);
        int stray = 0;
        for (int y = 0; y < 160; ++y) {
            const QColor expected = y == 71 || y == 134 ? QColor(107, 98, 98) : backgroundRgb;
            for (int x = 0; x < 960; ++x)
                if (image.pixelColor(x, y) != expected) ++stray;
        }
        EXPECT_EQ(stray, 0) << "page " << page;
    }
}

TEST(KoalaScreenHint, ShowsOnlyWhereItsLineIsFree) {
    auto changesWithHint = [](KoalaView view) {
        view.hint = "";
        QImage without = Art::render(view);
        view.hint = "HIT THE PAD TO PLAY";
        return Art::render(view) != without;
    };
    EXPECT_TRUE(changesWithHint(screens::choosing())) << "under big text";
    EXPECT_TRUE(changesWithHint(screens::padPage())) << "under the waveform";
    EXPECT_FALSE(changesWithHint(screens::eqPage())) << "the cells cover it";
    EXPECT_FALSE(changesWithHint(screens::fxPage()));
    EXPECT_FALSE(changesWithHint(screens::sequencePage())) << "the pattern covers it";
}

// The sequence page with only these notes, `beats` long.
KoalaView pattern(double beats, std::vector<KoalaSession::Note> notes, bool pianoRoll = false) {
    KoalaView view = screens::base(4);
    view.sequenceBeats = beats;
    view.notes = std::move(notes);
    view.pianoRoll = pianoRoll;
    return view;
}

TEST(KoalaScreenPattern, NotesStartingPastTheEndAreLeftOut) {
    const std::vector<KoalaSession::Note> inside = {{0, 2, 1, 60, 100, {}}, {1, 6, 1, 62, 100, {}}};
    for (bool pianoRoll : {false, true}) {
        QImage plain = Art::render(pattern(16, inside, pianoRoll));
        std::vector<KoalaSession::Note> stray = inside;
        stray.push_back({3, 16, 1, 96, 100, {}}); // on the end itself
        stray.push_back({4, 40, 0, 30, 100, {}});
        // In the piano roll they would also stretch the pitch range and move every other note.
        EXPECT_EQ(Art::render(pattern(16, stray, pianoRoll)), plain) << "piano roll " << pianoRoll;
        std::vector<KoalaSession::Note> last = inside;
        last.push_back({3, 15.5, 1, 96, 100, {}});
        EXPECT_NE(Art::render(pattern(16, last, pianoRoll)), plain) << "a note just before the end shows";
    }
    EXPECT_EQ(Art::render(pattern(0, inside)), Art::render(pattern(0, {}))) << "no length, no notes";
}

// The pad page with a waveform of these peaks and slices over the whole file.
KoalaView waveform(std::vector<float> peaks, std::vector<double> slices) {
    KoalaView view = screens::base(0);
    KoalaWave wave;
    wave.peaks = std::move(peaks);
    wave.slices = std::move(slices);
    view.wave = wave;
    return view;
}

TEST(KoalaScreenWaveform, SlicesAreNumberedUpTo32) {
    auto evenly = [](int count) {
        std::vector<double> slices;
        for (int i = 0; i < count; ++i)
            slices.push_back((i + 0.5) / count);
        return slices;
    };
    // The numbers' band at the panel's top, left of the caption; the flat peaks run along the bottom.
    const QRect numbers(0, 74, 600, 12);
    const QRect panel(8, 74, 944, 34);
    QImage numbered = Art::render(waveform(std::vector<float>(960, 0), evenly(32)));
    EXPECT_GT(count(numbered, numbers, whitish), 100);
    QImage unnumbered = Art::render(waveform(std::vector<float>(960, 0), evenly(33)));
    EXPECT_EQ(count(unnumbered, numbers, whitish), 0);
    EXPECT_GT(countNear(unnumbered, panel, pinkRgb, 30), 33 * 20) << "the slice lines are still drawn";
}

// The columns of a row band holding ink brighter than the background.
std::pair<int, int> inkExtent(const QImage& image, const QRect& band) {
    int left = image.width(), right = -1;
    for (int y = band.top(); y <= band.bottom(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y).red() > 128) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
    return {left, right};
}

TEST(KoalaScreenText, OneLineAlignedAndCutAtTheTail) {
    QImage image(400, 120, QImage::Format_RGBA8888_Premultiplied);
    image.fill(backgroundRgb);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    Art::text(painter, "WWWWWWWWWWWWWWWWWWWWWWWWW", QRectF(20, 0, 60, 20), 14, Look::foreground,
              Art::Align::left);
    Art::text(painter, "AB", QRectF(20, 60, 200, 20), 14, Look::foreground, Art::Align::centre);
    painter.end();

    auto [cutLeft, cutRight] = inkExtent(image, QRect(0, 0, 400, 20));
    EXPECT_GE(cutLeft, 20);
    EXPECT_LE(cutRight, 80) << "cut to the rectangle";
    EXPECT_GE(cutRight, 66) << "filled to its end, the ellipsis last";
    auto [centreLeft, centreRight] = inkExtent(image, QRect(0, 60, 400, 20));
    EXPECT_NEAR((centreLeft + centreRight) / 2.0, 120, 2);
    // One line: each text stays within its own 20-pixel band.
    EXPECT_EQ(count(image, QRect(0, 21, 400, 8), [](const QColor& p) { return p != backgroundRgb; }), 0);
}

} // namespace
} // namespace tandem
