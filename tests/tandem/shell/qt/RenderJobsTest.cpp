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

TEST(RenderJobs, APictureThatCannotBeMadeFailsAsAWriteDoes) {
    ScratchHome home;
    const auto refused = RenderJobs::writePng(QImage(), home.path() / "card.png");
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error(), (Error{"NSCocoaErrorDomain", 512, "The file “card.png” couldn’t be saved."}));
    EXPECT_FALSE(fs::exists(home.path() / "card.png"));
    EXPECT_TRUE(TandemCardArt::render({0, 800}, "x").isNull()) << "an empty card has no bitmap";
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
