#include "push2_display/push2_display.h"

#include "platform/linux/LibUsbHost.h"
#include "platform/sim/SimUsbHost.h"

#include <gtest/gtest.h>
#include <libusb.h>

#include <vector>

namespace tandem {
namespace {

constexpr size_t pixels = size_t(push2_display_width) * push2_display_height;

class Push2DisplayTest : public ::testing::Test {
protected:
    SimPush2Display display;
    SimUsbHost host{&display};
    void SetUp() override { push2_display_use(&host); }
    void TearDown() override { push2_display_use(nullptr); }
};

TEST_F(Push2DisplayTest, AnAllBlackFrameIsTheMaskInEveryByteFillerIncluded) {
    std::vector<uint16_t> black(pixels, 0);
    std::vector<uint8_t> wire(push2_display_frame_bytes);
    push2_display_encode(black.data(), wire.data());
    const uint8_t mask[] = {0xE7, 0xF3, 0xE7, 0xFF};
    for (size_t i = 0; i < wire.size(); ++i)
        ASSERT_EQ(wire[i], mask[i % 4]) << "byte " << i;

    std::vector<uint16_t> frame(pixels);
    for (size_t i = 0; i < pixels; ++i)
        frame[i] = uint16_t(i * 2654435761u);
    push2_display_encode(frame.data(), wire.data());
    // Line 3, pixel 5: little-endian, then masked by its byte position in the line.
    size_t at = 3 * 2048 + 5 * 2;
    uint16_t value = frame[3 * 960 + 5];
    EXPECT_EQ(wire[at], uint8_t(value) ^ mask[at % 4]);
    EXPECT_EQ(wire[at + 1], uint8_t(value >> 8) ^ mask[(at + 1) % 4]);
    EXPECT_EQ(wire[3 * 2048 + 1920], 0xE7); // the filler starts after 1,920 pixel bytes
}

TEST_F(Push2DisplayTest, ConvertsRgbaToTheDisplaysPixels) {
    const uint8_t rgba[] = {0xFF, 0x00, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF,
                            0x00, 0x00, 0xFF, 0xFF, 0x84, 0x82, 0x08, 0x00};
    uint16_t out[5] = {1, 1, 1, 1, 0xBEEF};
    push2_convert_rgba(rgba, out, 4);
    EXPECT_EQ(out[0], 0x001F);
    EXPECT_EQ(out[1], 0x07E0);
    EXPECT_EQ(out[2], 0xF800);
    EXPECT_EQ(out[4], 0xBEEF);
    push2_convert_rgba(rgba, out, 0);
    push2_convert_rgba(rgba, out, -3);
    EXPECT_EQ(out[0], 0x001F);
}

TEST_F(Push2DisplayTest, OpenSendAndAStallKeepsTheInterface) {
    EXPECT_EQ(push2_display_send(std::vector<uint16_t>(pixels).data()), -1); // not open
    ASSERT_EQ(push2_display_open(), 0);
    EXPECT_TRUE(push2_display_is_open());
    EXPECT_EQ(push2_display_open(), 0);
    EXPECT_EQ(display.openCount(), 1);

    std::vector<uint16_t> frame(pixels);
    for (size_t i = 0; i < pixels; ++i)
        frame[i] = uint16_t(i);
    ASSERT_EQ(push2_display_send(frame.data()), 0);
    EXPECT_EQ(display.lastImage(), frame); // pixel for pixel
    EXPECT_EQ(display.malformedFrames(), 0);

    display.stallNextWrite();
    EXPECT_EQ(push2_display_send(frame.data()), -1);
    EXPECT_TRUE(push2_display_is_open()); // a stall keeps the interface
    EXPECT_EQ(display.stallsCleared(), 1);
    EXPECT_EQ(push2_display_send(frame.data()), 0);
    EXPECT_EQ(display.framesShown(), 2);
}

TEST(LibUsbHost, OnlyABusyInterfaceCountsAsHeldByAnotherProgram) {
    EXPECT_EQ(libUsbStatus(LIBUSB_ERROR_BUSY), UsbStatus::exclusiveAccess);
    EXPECT_EQ(libUsbStatus(LIBUSB_ERROR_ACCESS), UsbStatus::failure); // a missing permission
    EXPECT_EQ(libUsbStatus(LIBUSB_ERROR_PIPE), UsbStatus::pipeStalled);
}

TEST(LibUsbHost, FindsNoPushHereAndSaysSoCleanly) {
    LibUsbHost usb;
    auto found = usb.findInterface(0x2982, 0x1967, 1, 0);
    EXPECT_EQ(found.interface, nullptr);
    EXPECT_EQ(found.status, UsbStatus::notFound);
    push2_display_use(&usb);
    EXPECT_EQ(push2_display_open(), -1);
    EXPECT_FALSE(push2_display_is_open());
    push2_display_use(nullptr);
}

} // namespace
} // namespace tandem
