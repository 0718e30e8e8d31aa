#include "tandem/push/art/KoalaScreenArt.h"

#include "ScreenProbes.h"
#include "ScreenViews.h"
#include "tandem/looks/KoalaLook.h"

#include <QFontInfo>

#include <gtest/gtest.h>

#include <filesystem>

namespace tandem {
namespace {

// A picture matches its reference when at most 1 % of its pixels differ by more than 48 in some
// channel: room for another FreeType's antialiasing and hinting, none for a moved or missing element.
constexpr int channelTolerance = 48;
constexpr double pixelShare = 0.01;

const std::filesystem::path referenceFolder = TANDEM_ART_REFERENCE_DIR;
const std::filesystem::path outputFolder = TANDEM_ART_OUTPUT_DIR;

int differingPixels(const QImage& a, const QImage& b) {
    const QImage left = a.convertToFormat(QImage::Format_RGBA8888),
                 right = b.convertToFormat(QImage::Format_RGBA8888);
    if (left.size() != right.size()) return left.width() * left.height();
    int differing = 0;
    for (int y = 0; y < left.height(); ++y)
        for (int x = 0; x < left.width(); ++x)
            if (probes::channelDistance(left.pixelColor(x, y), right.pixelColor(x, y)) > channelTolerance)
                ++differing;
    return differing;
}

QString qPath(const std::filesystem::path& path) {
    return QString::fromStdString(path.string());
}

// Renders the view, writes the picture into the build folder for review and compares it with the
// reference of that name; a missing reference fails, pointing at the new picture.
void expectMatchesReference(const std::string& name, const KoalaView& view) {
    const QImage rendered = KoalaScreenArt::render(view);
    std::filesystem::create_directories(outputFolder);
    const auto written = outputFolder / (name + ".png");
    ASSERT_TRUE(rendered.save(qPath(written))) << written;

    const auto reference = referenceFolder / (name + ".png");
    const QImage expected(qPath(reference));
    ASSERT_FALSE(expected.isNull()) << "no reference " << reference << "; review " << written
                                    << " and copy it there";
    const int differing = differingPixels(rendered, expected);
    if (differing > pixelShare * rendered.width() * rendered.height())
        ADD_FAILURE() << name << ": " << differing << " pixels differ from " << reference << "; see "
                      << written;
}

class KoalaScreenReference : public ::testing::Test {
protected:
    void SetUp() override {
        // The references are drawn in Debian's Dosis Medium (fonts-dosis) with Koala not installed.
        KoalaLook::useKoalaAt(KoalaLook::defaultKoalaLocation);
        QFontInfo face(KoalaLook::font(15));
        ASSERT_EQ(face.family().toStdString(), "Dosis") << "install fonts-dosis";
        ASSERT_EQ(face.styleName().toStdString(), "Medium");
    }
};

TEST_F(KoalaScreenReference, PadPageWithItsWaveform) {
    expectMatchesReference("pad-waveform", screens::padPage());
}

TEST_F(KoalaScreenReference, EqPageCells) {
    expectMatchesReference("eq-cells", screens::eqPage());
}

TEST_F(KoalaScreenReference, FxPageTwoRows) {
    expectMatchesReference("fx-rows", screens::fxPage());
}

TEST_F(KoalaScreenReference, SequencePattern) {
    expectMatchesReference("sequence-pattern", screens::sequencePage());
}

TEST_F(KoalaScreenReference, SequencePianoRoll) {
    KoalaView view = screens::sequencePage();
    view.pianoRoll = true;
    view.activePads.clear();
    view.activePitches = {62};
    view.clockLive = false;
    expectMatchesReference("sequence-piano-roll", view);
}

TEST_F(KoalaScreenReference, KeyboardChoosing) {
    expectMatchesReference("keyboard-choosing", screens::choosing());
}

} // namespace
} // namespace tandem
