#include "tandem/shell/qt/RenderJobs.h"
#include "tandem/looks/TandemArtwork.h"
#include "tandem/looks/TandemCardArt.h"
#include "tandem/push/art/KoalaScreenArt.h"

#include "support/ScratchHome.h"
#include "tandem/shell/qt/ArtProbes.h"

#include <gtest/gtest.h>

#include <fstream>

namespace tandem {
namespace {

using testing::ScratchHome;
namespace fs = std::filesystem;

QImage read(const fs::path& file) {
    return QImage(QString::fromStdString(file.string()));
}

// A regular file where a folder is needed: nothing can be made inside it, whoever runs the test.
fs::path blockedFolder(const ScratchHome& home) {
    const fs::path blocker = home.path() / "blocker";
    std::ofstream(blocker) << "not a folder";
    return blocker;
}

// A copy of every rendered picture for a person to look at.
void keep(const fs::path& from, const std::string& name) {
    std::error_code ignored;
    fs::create_directories(TANDEM_ART_OUTPUT_DIR, ignored);
    fs::copy_file(from, fs::path(TANDEM_ART_OUTPUT_DIR) / name, fs::copy_options::overwrite_existing,
                  ignored);
}

TEST(RenderJobs, TheCardIs1280By800WithTheStartingStatus) {
    ScratchHome home;
    const fs::path file = home.path() / "card.png";
    ASSERT_TRUE(RenderJobs::renderCard(file).ok());
    keep(file, "card.png");
    const QImage card = read(file);
    ASSERT_EQ(card.size(), QSize(1280, 800));
    EXPECT_EQ(probes::difference(
                  card, TandemCardArt::render({1280, 800}, "MPC touch ready · starting its controls…"))
                  .largest,
              0);
    EXPECT_NE(probes::difference(card, TandemCardArt::render({1280, 800}, "")).largest, 0)
        << "a status is shown";

    const auto refused = RenderJobs::renderCard(home.path() / "missing" / "card.png");
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().description, "The file “card.png” couldn’t be saved.");
    EXPECT_FALSE(fs::exists(home.path() / "missing"));
}

TEST(RenderJobs, APictureThatCannotBeMadeFailsAsAWriteDoes) {
    ScratchHome home;
    const auto refused = RenderJobs::writePng(QImage(), home.path() / "card.png");
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error(), (Error{"NSCocoaErrorDomain", 512, "The file “card.png” couldn’t be saved."}));
    EXPECT_FALSE(fs::exists(home.path() / "card.png"));
    EXPECT_TRUE(TandemCardArt::render({0, 800}, "x").isNull()) << "an empty card has no bitmap";
}

TEST(RenderJobs, TheIconSetHasTenFilesOfExactSizesInAFolderMadeWithItsParents) {
    ScratchHome home;
    const fs::path folder = home.path() / "build" / "Tandem.iconset";
    ASSERT_TRUE(RenderJobs::renderIcons(folder).ok());
    const std::vector<std::pair<std::string, int>> expected = {
        {"icon_16x16.png", 16},        {"icon_16x16@2x.png", 32},    {"icon_32x32.png", 32},
        {"icon_32x32@2x.png", 64},     {"icon_128x128.png", 128},    {"icon_128x128@2x.png", 256},
        {"icon_256x256.png", 256},     {"icon_256x256@2x.png", 512}, {"icon_512x512.png", 512},
        {"icon_512x512@2x.png", 1024},
    };
    for (const auto& [name, pixels] : expected) {
        const QImage icon = read(folder / name);
        ASSERT_FALSE(icon.isNull()) << name;
        EXPECT_EQ(icon.size(), QSize(pixels, pixels)) << name;
        EXPECT_TRUE(icon.hasAlphaChannel()) << name;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 10);
    keep(folder / "icon_512x512.png", "icon_512x512.png");
    keep(folder / "icon_32x32.png", "icon_32x32.png");

    EXPECT_TRUE(RenderJobs::renderIcons(folder).ok()) << "an existing folder is written again";
    const auto refused = RenderJobs::renderIcons(blockedFolder(home) / "Tandem.iconset");
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().description, "The folder “Tandem.iconset” couldn’t be created.");
    const auto trailing = RenderJobs::renderIcons(blockedFolder(home) / "icons/");
    ASSERT_FALSE(trailing.ok());
    EXPECT_EQ(trailing.error().description, "The folder “icons” couldn’t be created.");
}

TEST(RenderJobs, TheInstallerGetsALightAndADarkBackground) {
    ScratchHome home;
    const fs::path folder = home.path() / "dmg";
    ASSERT_TRUE(RenderJobs::renderInstallerArt(folder).ok());
    const QImage light = read(folder / "background.png"), dark = read(folder / "background-dark.png");
    EXPECT_EQ(light.size(), TandemArtwork::installerSize);
    EXPECT_EQ(dark.size(), TandemArtwork::installerSize);
    EXPECT_GT(light.pixelColor(3, 380).lightness(), 200);
    EXPECT_LT(dark.pixelColor(3, 380).lightness(), 60);
    keep(folder / "background.png", "background.png");
    keep(folder / "background-dark.png", "background-dark.png");

    const auto refused = RenderJobs::renderInstallerArt(blockedFolder(home));
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().description, "The folder “blocker” couldn’t be created.");
}

TEST(RenderJobs, TheControlsPreviewIsTheOverlaysOwn) {
    ScratchHome home;
    ASSERT_TRUE(RenderJobs::renderControls(home.path() / "controls.png").ok());
    EXPECT_EQ(read(home.path() / "controls.png").size(), QSize(480, 80));
    const auto refused = RenderJobs::renderControls(blockedFolder(home) / "controls.png");
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().description, "The file “controls.png” couldn’t be saved.");
}

TEST(RenderJobs, ThePushPreviewShowsEveryPageOfARealController) {
    const std::vector<RenderJobs::PushPage> pages = RenderJobs::pushPages();
    ASSERT_EQ(pages.size(), 6u);
    using Middle = KoalaScreenArt::Middle;
    const std::vector<std::pair<std::string, Middle>> expected = {
        {"push-pad.png", Middle::waveform},     {"push-eq.png", Middle::cells},
        {"push-fx.png", Middle::effects},       {"push-mixer.png", Middle::cells},
        {"push-sequence.png", Middle::pattern}, {"push-keyboard.png", Middle::big},
    };
    for (size_t i = 0; i < pages.size(); ++i) {
        EXPECT_EQ(pages[i].file, expected[i].first);
        EXPECT_EQ(KoalaScreenArt::middle(pages[i].view), expected[i].second) << pages[i].file;
    }
    // The pad page shows the chopped break on A1; the pages are the controller's own, one each.
    const KoalaView& pad = pages[0].view;
    EXPECT_EQ(pad.pad, "A1");
    EXPECT_EQ(pad.page, 0);
    ASSERT_TRUE(pad.wave.has_value());
    EXPECT_EQ(pad.wave->peaks.size(), KoalaWaveformAudio::bucketCount);
    EXPECT_EQ(pad.wave->slices.size(), 8u);
    EXPECT_EQ(pages[1].view.page, 1);
    EXPECT_EQ(pages[3].view.page, 3);
    ASSERT_TRUE(pages[4].view.notes.has_value());
    EXPECT_GT(pages[4].view.notes->size(), 20u);
    EXPECT_EQ(pages[5].view.mode, "KEYBOARD · CHOOSING A PAD");
    EXPECT_EQ(pages[2].view.cells.size(), 8u);
    EXPECT_EQ(pages[2].view.cellsTop.size(), 8u);
    EXPECT_EQ(RenderJobs::pushPages()[4].view, pages[4].view) << "the same session every time";

    ScratchHome home;
    const fs::path folder = home.path() / "push" / "preview";
    ASSERT_TRUE(RenderJobs::renderPush(folder).ok());
    for (const auto& page : pages) {
        const QImage image = read(folder / page.file);
        ASSERT_EQ(image.size(), QSize(960, 160)) << page.file;
        EXPECT_EQ(probes::difference(image, KoalaScreenArt::render(page.view)).largest, 0) << page.file;
        keep(folder / page.file, page.file);
    }
    for (size_t i = 1; i < pages.size(); ++i)
        EXPECT_NE(read(folder / pages[i].file), read(folder / pages[i - 1].file)) << pages[i].file;

    const auto refused = RenderJobs::renderPush(blockedFolder(home) / "push");
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().description, "The folder “push” couldn’t be created.");
}

} // namespace
} // namespace tandem
