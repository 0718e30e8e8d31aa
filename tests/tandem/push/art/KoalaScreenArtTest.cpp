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
using probes::near;

const QColor backgroundRgb(45, 39, 39);
const QColor blueRgb(0, 203, 234);
const QColor pinkRgb(255, 40, 99);

// Upper label i's box in image pixels (y down), with a pixel of margin.
QRect upperBox(int i) {
    return {120 * i + 3, 0, 114, 23};
}

bool whitish(const QColor& pixel) {
    return std::min({pixel.red(), pixel.green(), pixel.blue()}) > 140;
}

TEST(KoalaScreenGeometry, BottomUpRectanglesArePlacedIntoTheFrame) {
    const QRectF screen(0, 0, 960, 160);
    EXPECT_EQ(Art::place(screen, QRectF(4, 139, 112, 20)), QRectF(4, 1, 112, 20))
        << "the upper row is at the top";
    EXPECT_EQ(Art::place(screen, QRectF(0, 25, 960, 1)), QRectF(0, 134, 960, 1));
    EXPECT_EQ(Art::place(screen, QRectF(0, 0, 960, 160)), screen);
    // Half size, moved: the preview window's frame.
    EXPECT_EQ(Art::place(QRectF(100, 50, 480, 80), QRectF(4, 139, 112, 20)), QRectF(102, 50.5, 56, 10));
}

TEST(KoalaScreenGeometry, MiddleShowsOneThingByPriority) {
    KoalaView pad = screens::padPage();
    EXPECT_EQ(Art::middle(pad), Art::Middle::waveform);
    pad.big = "KEYBOARD: CHOOSING A PAD";
    EXPECT_EQ(Art::middle(pad), Art::Middle::big) << "big text wins";
    pad = screens::padPage();
    pad.wave.reset();
    EXPECT_EQ(Art::middle(pad), Art::Middle::cells) << "without a waveform the knobs show";
    pad.cells = {KoalaView::Cell{}, KoalaView::Cell{"", "", std::nullopt, false, true, true}};
    EXPECT_EQ(Art::middle(pad), Art::Middle::nothing) << "blank cells are no cells";

    EXPECT_EQ(Art::middle(screens::fxPage()), Art::Middle::effects);
    KoalaView fx = screens::fxPage();
    fx.cells.assign(8, {});
    EXPECT_EQ(Art::middle(fx), Art::Middle::effects) << "the second row alone";
    fx.cellsTop.assign(8, {});
    EXPECT_EQ(Art::middle(fx), Art::Middle::nothing);

    EXPECT_EQ(Art::middle(screens::sequencePage()), Art::Middle::pattern);
    KoalaView sequence = screens::sequencePage();
    sequence.notes.reset();
    EXPECT_EQ(Art::middle(sequence), Art::Middle::cells);
    EXPECT_EQ(Art::middle(screens::eqPage()), Art::Middle::cells);
    KoalaView waveOnEq = screens::eqPage();
    waveOnEq.wave = screens::padPage().wave;
    EXPECT_EQ(Art::middle(waveOnEq), Art::Middle::cells) << "the waveform belongs to the pad page";
}

TEST(KoalaScreenRender, IsRgbaBytesAsTheDisplayConversionReadsThem) {
    QImage image = Art::render(screens::padPage());
    ASSERT_EQ(image.size(), QSize(960, 160));
    ASSERT_EQ(image.format(), QImage::Format_RGBA8888_Premultiplied);
    for (QPoint corner : {QPoint(0, 0), QPoint(959, 0), QPoint(0, 159), QPoint(959, 159)}) {
        const uint8_t* bytes = image.constScanLine(corner.y()) + 4 * corner.x();
        EXPECT_EQ(std::vector<int>(bytes, bytes + 4), (std::vector<int>{45, 39, 39, 255}))
            << "the background at " << corner.x() << "," << corner.y();
    }
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

TEST(KoalaScreenUpperRow, ShownPageBoxIsAtTheTop) {
    for (int page : {0, 3}) {
        KoalaView view = screens::base(page);
        QImage image = Art::render(view);
        const int left = 120 * page + 4;
        EXPECT_TRUE(near(image.pixelColor(left + 10, 11), blueRgb, 2)) << "page " << page;
        EXPECT_TRUE(near(image.pixelColor(left + 102, 11), blueRgb, 2)) << "page " << page;
        EXPECT_EQ(countNear(image, QRect(left, 140, 112, 20), blueRgb, 40), 0)
            << "nothing where y up was not turned";
        const int other = (page + 1) * 120 + 14;
        EXPECT_TRUE(near(image.pixelColor(other, 11), backgroundRgb, 0)) << "other labels are not filled";
    }
}

TEST(KoalaScreenUpperRow, KeyboardMarkIsOnLabelFiveAlone) {
    KoalaView choosing = screens::choosing();
    ASSERT_EQ(choosing.upperAlt, std::set<int>{5});
    QImage marked = Art::render(choosing);
    EXPECT_GT(countNear(marked, upperBox(5), pinkRgb, 40), 40);
    for (int i = 0; i < 8; ++i) {
        if (i != 5) {
            EXPECT_EQ(countNear(marked, upperBox(i), pinkRgb, 40), 0) << "label " << i;
        }
    }
    KoalaView plain = choosing;
    plain.upperAlt.clear();
    QImage unmarked = Art::render(plain);
    EXPECT_EQ(countNear(unmarked, upperBox(5), pinkRgb, 40), 0);
    EXPECT_EQ(unmarked.copy(upperBox(4)), marked.copy(upperBox(4)));
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

TEST(KoalaScreenEmpty, ShownPageWithoutLabelStillHasItsBox) {
    KoalaView view = screens::base(2);
    view.upper[2] = "";
    QImage image = Art::render(view);
    EXPECT_TRUE(near(image.pixelColor(254, 11), blueRgb, 2));
    view.upperOn.clear();
    EXPECT_EQ(count(Art::render(view), upperBox(2),
                    [](const QColor& pixel) { return !near(pixel, backgroundRgb, 0); }),
              0);
}

TEST(KoalaScreenHeader, PadIdIsInItsBankColour) {
    KoalaView view = screens::base(1);
    view.pad = "D4";
    view.bank = 3;
    QImage image = Art::render(view);
    const QRect id(10, 22, 60, 30);
    EXPECT_GT(countNear(image, id, blueRgb, 10), 15) << "solid strokes in the bank's colour";
    // Antialiased edges mix the bank's colour with the background; white never comes into it.
    EXPECT_EQ(count(image, id, [](const QColor& pixel) { return pixel.red() > 60; }), 0);
    EXPECT_GT(count(image, QRect(70, 24, 470, 26), whitish), 15) << "the name beside it is white";
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
    EXPECT_TRUE(changesWithHint(screens::base(0))) << "alone";
    EXPECT_FALSE(changesWithHint(screens::eqPage())) << "the cells cover it";
    EXPECT_FALSE(changesWithHint(screens::fxPage()));
    EXPECT_FALSE(changesWithHint(screens::sequencePage())) << "the pattern covers it";
}

TEST(KoalaScreenCells, LevelBarsGrowFromTheLeftOrFromTheCentre) {
    KoalaView view = screens::base(1);
    view.cells = {{"PAN", "L50", 0.25, true}, {"LEVEL", "25%", 0.25}, {"TUNE", "0 ST", 0.5, true}};
    QImage image = Art::render(view);
    const int row = 124; // the bar's rows are 122-125
    auto blueColumns = [&](int from, int to) {
        std::vector<int> columns;
        for (int x = from; x < to; ++x)
            if (near(image.pixelColor(x, row), blueRgb, 30)) columns.push_back(x);
        return columns;
    };
    auto span = [](int from, int to) {
        std::vector<int> columns;
        for (int x = from; x < to; ++x)
            columns.push_back(x);
        return columns;
    };
    EXPECT_EQ(blueColumns(0, 120), span(34, 60)) << "centred: from the middle (60) back to a quarter (34)";
    EXPECT_EQ(blueColumns(120, 240), span(128, 154)) << "from the left edge to a quarter";
    EXPECT_EQ(blueColumns(240, 360), span(299, 301)) << "centred at the centre: a tick";
}

// The sequence page with only these notes, `beats` long.
KoalaView pattern(double beats, std::vector<KoalaSession::Note> notes, bool pianoRoll = false) {
    KoalaView view = screens::base(4);
    view.sequenceBeats = beats;
    view.notes = std::move(notes);
    view.pianoRoll = pianoRoll;
    return view;
}

TEST(KoalaScreenPattern, NotesAreAtLeastThreeWide) {
    // 59 beats make 16 units a beat on the 944-unit panel starting at 8, so these notes sit on pixels.
    KoalaView view = pattern(59, {{0, 3.5, 0, 60, 100, {}}, {5, 10, 1, 60, 100, {}}});
    QImage image = Art::render(view);
    auto noteColumns = [&](int row) {
        std::vector<int> columns;
        for (int x = 0; x < 960; ++x)
            if (near(image.pixelColor(x, row), blueRgb, 30)) columns.push_back(x);
        return columns;
    };
    EXPECT_EQ(noteColumns(126), (std::vector<int>{64, 65, 66})) << "pad 0, the bottom row, no length";
    std::vector<int> beatLong = noteColumns(110);
    ASSERT_EQ(beatLong.size(), 16u) << "pad 5, one beat";
    EXPECT_EQ(beatLong.front(), 168);
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

TEST(KoalaScreenWaveform, PeaksLineFollowsTheEnvelope) {
    std::vector<float> rising(960);
    for (size_t k = 0; k < rising.size(); ++k)
        rising[k] = static_cast<float>(k) / 959;
    QImage image = Art::render(waveform(rising, {}));
    // The line is the brightest pixel of each column of the panel (rows 74-107).
    auto lineRow = [&](int x) {
        int best = -1, brightest = -1;
        for (int y = 74; y < 108; ++y) {
            QColor pixel = image.pixelColor(x, y);
            int brightness = pixel.red() + pixel.green() + pixel.blue();
            if (brightness > brightest) {
                brightest = brightness;
                best = y;
            }
        }
        return best;
    };
    EXPECT_GE(lineRow(50), 102) << "low on the left";
    EXPECT_LE(lineRow(900), 80) << "high on the right";
    EXPECT_GT(lineRow(300), lineRow(600));
}

TEST(KoalaScreenFrame, ScaledFramesKeepTheOrientationAndStayInside) {
    QImage image(500, 100, QImage::Format_RGBA8888_Premultiplied);
    image.fill(Qt::black);
    QPainter painter(&image);
    Art::draw(painter, screens::base(0), QRectF(10, 10, 480, 80));
    painter.end();
    EXPECT_TRUE(near(image.pixelColor(17, 15), blueRgb, 2)) << "the shown page's box at the frame's top";
    EXPECT_EQ(countNear(image, QRect(10, 80, 60, 10), blueRgb, 40), 0);
    EXPECT_TRUE(near(image.pixelColor(12, 88), backgroundRgb, 0));
    for (QPoint outside : {QPoint(5, 5), QPoint(495, 95), QPoint(9, 50), QPoint(490, 50), QPoint(250, 9)})
        EXPECT_EQ(image.pixelColor(outside), QColor(Qt::black)) << outside.x() << "," << outside.y();
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
    Art::text(painter, "AB", QRectF(20, 30, 200, 20), 14, Look::foreground, Art::Align::right);
    Art::text(painter, "AB", QRectF(20, 60, 200, 20), 14, Look::foreground, Art::Align::centre);
    Art::text(painter, "AB", QRectF(20, 90, 200, 20), 14, Look::foreground, Art::Align::left);
    Art::text(painter, "", QRectF(300, 0, 100, 120), 14, Look::foreground, Art::Align::left);
    painter.end();

    auto [cutLeft, cutRight] = inkExtent(image, QRect(0, 0, 400, 20));
    EXPECT_GE(cutLeft, 20);
    EXPECT_LE(cutRight, 80) << "cut to the rectangle";
    EXPECT_GE(cutRight, 66) << "filled to its end, the ellipsis last";
    auto [rightLeft, rightRight] = inkExtent(image, QRect(0, 30, 400, 20));
    EXPECT_GT(rightLeft, 170);
    EXPECT_LE(rightRight, 220);
    EXPECT_GE(rightRight, 212);
    auto [centreLeft, centreRight] = inkExtent(image, QRect(0, 60, 400, 20));
    EXPECT_NEAR((centreLeft + centreRight) / 2.0, 120, 2);
    auto [leftLeft, leftRight] = inkExtent(image, QRect(0, 90, 400, 20));
    EXPECT_LE(leftLeft, 23);
    EXPECT_LT(leftRight, 60);
    EXPECT_EQ(count(image, QRect(300, 0, 100, 120), [](const QColor& p) { return p != backgroundRgb; }), 0);
    // One line: each text stays within its own 20-pixel band.
    EXPECT_EQ(count(image, QRect(0, 21, 400, 8), [](const QColor& p) { return p != backgroundRgb; }), 0);
}

TEST(KoalaScreenText, FillRoundsCornersOnlyWithARadius) {
    QImage image(100, 40, QImage::Format_RGBA8888_Premultiplied);
    image.fill(backgroundRgb);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    Art::fill(painter, QRectF(0, 0, 40, 20), 0, Look::pink);
    Art::fill(painter, QRectF(50, 0, 40, 20), 10, Look::pink);
    Art::fill(painter, QRectF(0, 25, 0, 10), 3, Look::pink);
    painter.end();
    EXPECT_EQ(image.pixelColor(0, 0), pinkRgb);
    EXPECT_EQ(image.pixelColor(39, 19), pinkRgb);
    EXPECT_EQ(image.pixelColor(50, 0), backgroundRgb) << "the rounded corner";
    EXPECT_EQ(image.pixelColor(70, 10), pinkRgb);
    EXPECT_EQ(count(image, QRect(0, 22, 100, 18), [](const QColor& p) { return p != backgroundRgb; }), 0)
        << "an empty rectangle fills nothing";
}

} // namespace
} // namespace tandem
