#include "tandem/looks/KoalaLook.h"

#include "base/ScratchFolder.h"
#include "support/ScratchHome.h"
#include "tandem/looks/QtPrinters.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QImage>

#include <gtest/gtest.h>

namespace tandem {
namespace {

namespace KL = KoalaLook;
using Source = KL::FontChoice::Source;

// Every test starts and ends with Koala where the application looks when the workspace does not know.
class KoalaLookFont : public ::testing::Test {
protected:
    void SetUp() override { KL::useKoalaAt(KL::defaultKoalaLocation); }
    void TearDown() override { KL::useKoalaAt(KL::defaultKoalaLocation); }

    // A stand-in for Koala's application with `bytes` as its font file.
    static void install(const std::filesystem::path& application, const std::string& bytes) {
        testing::ScratchHome::write(application / KL::koalaFontFile, bytes);
    }
    // The face the machine offers when Koala's own is missing.
    static QString fallbackFamily() {
        return KL::hasMediumFace("Dosis") ? QString("Dosis")
                                          : QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    }
};

TEST_F(KoalaLookFont, ChoosesKoalasFaceThenTheRoundedOneThenTheSystemFont) {
    KL::FontChoice koala = KL::chooseFont(13, "Koala Test", {"Dosis"});
    EXPECT_EQ(koala.source, Source::koala);
    EXPECT_EQ(koala.family, "Koala Test");

    KL::FontChoice rounded = KL::chooseFont(24, "", {"Dosis"});
    EXPECT_EQ(rounded.source, Source::rounded);
    EXPECT_EQ(rounded.family, "Dosis");

    KL::FontChoice system = KL::chooseFont(9.6, "", {"Arial", "DejaVu Sans"});
    EXPECT_EQ(system.source, Source::system);
    EXPECT_EQ(system.pixelSize, 10) << "whole pixels, rounded";
    EXPECT_EQ(KL::chooseFont(0.2, "", {}).pixelSize, 1) << "never zero pixels";
}

TEST_F(KoalaLookFont, EveryChoiceIsMediumWeightInPixels) {
    for (const KL::FontChoice& choice : {KL::chooseFont(15, "", {}), KL::chooseFont(15, "", {"Dosis"})}) {
        QFont font = KL::makeFont(choice);
        EXPECT_EQ(font.weight(), QFont::Medium);
        EXPECT_EQ(font.pixelSize(), 15);
    }

    // A QImage is 96 dpi by default, where a point size would come out 4/3 larger than at 72 dpi.
    QFont font = KL::font(20);
    QImage at96(10, 10, QImage::Format_RGBA8888_Premultiplied), at72 = at96;
    at72.setDotsPerMeterX(2835);
    at72.setDotsPerMeterY(2835);
    ASSERT_NE(at96.logicalDpiY(), at72.logicalDpiY());
    EXPECT_DOUBLE_EQ(QFontMetricsF(font, &at96).height(), QFontMetricsF(font, &at72).height());
    EXPECT_EQ(QFontInfo(font).pixelSize(), 20);
}

TEST_F(KoalaLookFont, WithoutKoalaDebiansDosisMediumStandsIn) {
    ASSERT_FALSE(std::filesystem::exists(KL::defaultKoalaLocation / KL::koalaFontFile));
    QFontInfo info(KL::font(13));
#if TANDEM_DOSIS_INSTALLED
    EXPECT_TRUE(KL::hasMediumFace("Dosis")) << "fonts-dosis is installed";
    EXPECT_EQ(info.family(), "Dosis");
    EXPECT_EQ(info.styleName(), "Medium") << "Qt really picked the medium face";
#else
    EXPECT_FALSE(KL::hasMediumFace("Dosis"));
    EXPECT_EQ(info.family(), QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());
#endif
    EXPECT_EQ(info.weight(), QFont::Medium);
    EXPECT_FALSE(KL::hasMediumFace("No Such Family Anywhere"));
}

TEST_F(KoalaLookFont, KoalasOwnFileIsRegisteredOnceAndWins) {
    // Any face other than Dosis shows that the file inside the application is the one drawn with.
    const std::filesystem::path otherFace = TANDEM_OTHER_FONT;
    ASSERT_TRUE(std::filesystem::is_regular_file(otherFace)) << otherFace;
    ScratchFolder scratch("tandem-koala-look-");
    ASSERT_TRUE(scratch.made().ok());
    const auto koala = scratch.path() / "koala.app";
    install(koala, testing::ScratchHome::read(otherFace));

    KL::useKoalaAt(koala);
    QFont font = KL::font(13);
    const QString family = KL::registerKoalaFont(koala);
    ASSERT_FALSE(family.isEmpty());
    EXPECT_NE(family, "Dosis");
    EXPECT_EQ(font.family(), family);
    EXPECT_EQ(QFontInfo(font).family(), family) << "Qt really has the face";

    // Registered once: the answer stays even when the file goes, rather than a second registration.
    std::filesystem::remove(koala / KL::koalaFontFile);
    EXPECT_EQ(KL::registerKoalaFont(koala), family);
    EXPECT_EQ(KL::font(13).family(), family);

    // Back at a location without Koala, the stand-in returns.
    KL::useKoalaAt(scratch.path() / "elsewhere.app");
    EXPECT_EQ(QFontInfo(KL::font(13)).family(), fallbackFamily());
}

TEST_F(KoalaLookFont, MissingOrUnreadableFilesFallBack) {
    ScratchFolder scratch("tandem-koala-look-");
    ASSERT_TRUE(scratch.made().ok());
    const auto missing = scratch.path() / "missing.app";
    EXPECT_EQ(KL::registerKoalaFont(missing), "");
    const auto broken = scratch.path() / "broken.app";
    install(broken, "not a font");
    EXPECT_EQ(KL::registerKoalaFont(broken), "");
    KL::useKoalaAt(broken);
    EXPECT_EQ(QFontInfo(KL::font(16)).family(), fallbackFamily());
}

TEST(KoalaLookColours, BanksTakeTheNearestForOutOfRangeNumbers) {
    for (const QColor& colour : KL::banks())
        EXPECT_EQ(colour, KL::blue);
    EXPECT_EQ(KL::bank(-1), KL::banks()[0]);
    EXPECT_EQ(KL::bank(7), KL::banks()[3]);
}

} // namespace
} // namespace tandem
