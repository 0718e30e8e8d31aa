// The preview window shows exactly what the Push shows, at any size.
#include "tandem/push/KoalaPushCanvas.h"
#include "tandem/push/art/KoalaScreenArt.h"
#include "tandem/shell/qt/KoalaPushPreviewView.h"

#include <QApplication>
#include <QImage>

#include <gtest/gtest.h>

namespace tandem {
namespace {

KoalaView aView() {
    KoalaView view;
    view.upper = {"PAD", "EQ", "FX", "MIXER", "SEQ", "KEYBOARD", "LOAD", "SETTINGS"};
    view.upperOn = {2};
    view.pad = "B3";
    view.padName = "SNARE";
    view.bank = 1;
    view.status = "■ STOPPED";
    view.hint = "A HINT";
    return view;
}

// The share of pixels that differ by more than `tolerance` in any channel.
double difference(const QImage& a, const QImage& b, int tolerance = 48) {
    const QImage x = a.convertToFormat(QImage::Format_RGBA8888),
                 y = b.convertToFormat(QImage::Format_RGBA8888);
    if (x.size() != y.size()) return 1.0;
    int64_t differing = 0;
    for (int row = 0; row < x.height(); ++row) {
        const uchar* p = x.constScanLine(row);
        const uchar* q = y.constScanLine(row);
        for (int i = 0; i < x.width(); ++i) {
            for (int c = 0; c < 3; ++c) {
                if (std::abs(int(p[4 * i + c]) - int(q[4 * i + c])) > tolerance) {
                    ++differing;
                    break;
                }
            }
        }
    }
    return double(differing) / double(x.width() * x.height());
}

TEST(KoalaPushPreview, OpensTitledAndShowsTheViewAsTheDisplayDoes) {
    QtPushPreview preview;
    preview.open("Tandem · Push 2 · Saved song / local control view");
    QApplication::processEvents();
    EXPECT_EQ(preview.view().windowTitle().toStdString(),
              "Tandem · Push 2 · Saved song / local control view");
    EXPECT_EQ(preview.view().size(), QSize(960, 160));

    const KoalaView view = aView();
    preview.show(view);
    EXPECT_EQ(preview.view().model(), view);
    const QImage window = preview.view().grab().toImage();
    const QImage screen = KoalaScreenArt::render(view);
    EXPECT_LT(difference(window, screen), 0.01);

    // Twice the size: the same picture, scaled.
    preview.view().resize(1920, 320);
    const QImage large =
        preview.view().grab().toImage().scaled(960, 160, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    EXPECT_LT(difference(large, screen), 0.03);

    preview.close();
    EXPECT_FALSE(preview.view().isVisible());
    preview.open("again");
    EXPECT_TRUE(preview.view().isVisible());
    EXPECT_EQ(preview.view().model(), view); // the same window, not a new one
}

TEST(KoalaPushCanvas, ConvertsTheDrawnScreenIntoDisplayPixels) {
    KoalaPushCanvas canvas;
    const auto pixels = canvas.pixels(aView());
    ASSERT_EQ(pixels.size(), 153600u);
    // Background (45, 39, 39) in the corner: 5 bits of red low, 6 of green, 5 of blue high.
    const uint16_t background = uint16_t((45 >> 3) | ((39 >> 2) << 5) | ((39 >> 3) << 11));
    EXPECT_EQ(pixels[0], background);
    // The shown page's box (column 2, at the top) is filled in a colour other than the background.
    EXPECT_NE(pixels[size_t(10 * 960 + 2 * 120 + 60)], background);
}

} // namespace
} // namespace tandem
