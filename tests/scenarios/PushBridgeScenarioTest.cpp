// The Push 2 showing Koala, on the simulated Mac in virtual time: a pad's sample drawn on the Push's
// own display, an empty pad, and the Push unplugged and plugged back in.
#include "support/BridgeRig.h"
#include "tandem/shell/qt/KoalaPushPreviewView.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tandem {
namespace {

using testing::BridgeRig;

struct Rgb {
    int r, g, b;
};

// A pixel of the display as the Push decodes it: red in the low five bits, then six of green, then five
// of blue.
Rgb pixel(const std::vector<uint16_t>& image, int x, int y) {
    const uint16_t p = image[size_t(y) * 960 + size_t(x)];
    return {(p & 0x1F) << 3, ((p >> 5) & 0x3F) << 2, (p >> 11) << 3};
}

// The rows (from the top) where column x of the waveform panel is light grey to white: the peaks line,
// smoothed over one or two rows. The panel itself is a dark blue-grey.
std::vector<int> lineRows(const std::vector<uint16_t>& image, int x) {
    std::vector<int> rows;
    for (int y = 160 - 52 - 34; y < 160 - 52; ++y) {
        const Rgb c = pixel(image, x, y);
        if (std::min({c.r, c.g, c.b}) > 140) rows.push_back(y);
    }
    return rows;
}

TEST(PushBridgeScenario, APadsSampleOnThePushThenAnEmptyPadThenUnpluggedAndBack) {
    BridgeRig r;
    QtPushPreview window;
    r.preview.titles.clear();
    // The real window this time.
    r.bridge.reset();
    {
        PushKoalaBridge::Services services{r.rig.midi,    r.rig.time, r.rig.usb, *r.defaults, r.rig.workspace,
                                           r.rig.folders, r.rig.main, r.display, r.snapshots, r.waveforms,
                                           &window,       r.disk,     &r.feed,   nullptr};
        r.bridge = PushKoalaBridge::create(std::move(services));
        r.bridge->onReady = [&r] { ++r.ready; };
    }
    r.koala();
    // A1 holds one second: silence, then full scale.
    ASSERT_TRUE(r.rig.koala.loadSample(0, SimKoalaSample::silentThenFull(44100)));
    r.rig.push.plug();
    ASSERT_TRUE(r.bridge->start());
    r.run(1);
    r.bridge->prepareForKoalaLaunch();
    r.run(1);
    EXPECT_EQ(r.ready, 1);

    // Another pad selected first, then A1: Koala selects it and saves; the Push draws its wave.
    r.tapPad(1);
    r.run(2);
    ASSERT_EQ(r.rig.koala.song().selectedPad, 1);
    r.tapPad(0);
    r.run(2);
    EXPECT_EQ(r.rig.koala.song().selectedPad, 0);
    auto image = r.rig.pushDisplay.lastImage();
    ASSERT_TRUE(image);
    const auto left = lineRows(*image, 300), right = lineRows(*image, 560);
    ASSERT_FALSE(left.empty());
    ASSERT_FALSE(right.empty());
    EXPECT_GE(left.front(), 160 - 52 - 4); // near the panel's foot
    EXPECT_LE(right.back(), 160 - 86 + 4); // near its top
    EXPECT_EQ(window.view().model().pad, "A1");

    // An empty pad: no line at all.
    r.tapPad(20);
    r.run(2);
    image = r.rig.pushDisplay.lastImage();
    for (int x = 8; x < 952; x += 4)
        EXPECT_TRUE(lineRows(*image, x).empty()) << x;
    EXPECT_EQ(window.view().model().padName, "EMPTY");

    // Unplugged: the preview says so. Plugged back in: every pad and light is sent again.
    r.rig.push.unplug();
    r.run(1);
    EXPECT_EQ(window.view().model().message, "CONNECT USB AND POWER");
    r.rig.push.clearReceived();
    r.rig.push.plug();
    r.run(2);
    EXPECT_EQ(r.ready, 2);
    int pads = 0, lights = 0;
    for (const auto& message : r.rig.push.received()) {
        if (message.size() == 3 && message[0] == 0x90 && message[1] >= 36 && message[1] < 100) ++pads;
        if (message.size() == 3 && message[0] == 0xB0) ++lights;
    }
    EXPECT_GE(pads, 64);
    EXPECT_GE(lights, 40);
    r.bridge->stop();
    EXPECT_FALSE(window.view().isVisible());
}

} // namespace
} // namespace tandem
