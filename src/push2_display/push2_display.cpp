#include "push2_display/push2_display.h"

#include "platform/Usb.h"

#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <vector>

// The display takes little-endian pixels; the frame is copied word by word as it lies in memory.
static_assert(std::endian::native == std::endian::little);

namespace {

using namespace tandem;

constexpr uint16_t vendorAbleton = 0x2982;
constexpr uint16_t productPush2 = 0x1967;
constexpr uint32_t noDataTimeout = 500;
constexpr uint32_t completionTimeout = 1000;
constexpr size_t chunkBytes = 16384;
constexpr uint8_t frameHeader[16] = {0xFF, 0xCC, 0xAA, 0x88};
// E7 F3 E7 FF repeating, as little-endian 64-bit words.
constexpr uint64_t mask64 = 0xFFE7F3E7FFE7F3E7ull;

UsbHost* host = nullptr;
std::unique_ptr<UsbInterface> displayInterface;
int displayPipe = 0;
std::vector<uint8_t>& buffer() {
    static std::vector<uint8_t> frame(push2_display_frame_bytes);
    return frame;
}

void forget() {
    displayInterface.reset();
    displayPipe = 0;
}

} // namespace

void push2_display_use(UsbHost* usb) {
    push2_display_close();
    host = usb;
}

int32_t push2_display_open(void) {
    if (displayInterface && displayPipe) return 0;
    if (!host) return -1;
    UsbHost::Found found = host->findInterface(vendorAbleton, productPush2, 1, 0);
    if (!found.interface) return found.status == UsbStatus::notFound ? -1 : -3;
    UsbStatus opened = found.interface->open();
    if (opened != UsbStatus::success) return opened == UsbStatus::exclusiveAccess ? -2 : -3;
    displayInterface = std::move(found.interface);
    for (int candidate = 1, count = displayInterface->numberOfEndpoints(); candidate <= count; ++candidate) {
        UsbPipeProperties properties;
        if (displayInterface->pipeProperties(candidate, &properties) == UsbStatus::success &&
            properties.direction == 0 && properties.transferType == 2 && properties.number == 1) {
            displayPipe = candidate;
            return 0;
        }
    }
    displayInterface->close();
    forget();
    return -3;
}

bool push2_display_is_open(void) {
    return displayInterface && displayPipe;
}

void push2_display_close(void) {
    if (displayInterface) displayInterface->close();
    forget();
}

void push2_display_encode(const uint16_t* pixels, uint8_t* out) {
    constexpr size_t pixelBytes = push2_display_width * 2;
    for (int line = 0; line < push2_display_height; ++line) {
        const auto* source = reinterpret_cast<const uint8_t*>(pixels + size_t(line) * push2_display_width);
        uint8_t* target = out + size_t(line) * push2_display_line_bytes;
        // Whole 64-bit words: the line starts on the mask's period, so every word takes the same mask.
        for (size_t at = 0; at < pixelBytes; at += 8) {
            uint64_t word;
            std::memcpy(&word, source + at, 8);
            word ^= mask64;
            std::memcpy(target + at, &word, 8);
        }
        for (size_t at = pixelBytes; at < push2_display_line_bytes; at += 8)
            std::memcpy(target + at, &mask64, 8);
    }
}

int32_t push2_display_send(const uint16_t* pixels) {
    if (!push2_display_is_open() || !pixels) return -1;
    std::vector<uint8_t>& frame = buffer();
    push2_display_encode(pixels, frame.data());
    UsbStatus status =
        displayInterface->writePipe(displayPipe, frameHeader, noDataTimeout, completionTimeout);
    for (size_t at = 0; status == UsbStatus::success && at < frame.size(); at += chunkBytes) {
        status =
            displayInterface->writePipe(displayPipe, std::span<const uint8_t>(frame).subspan(at, chunkBytes),
                                        noDataTimeout, completionTimeout);
    }
    if (status == UsbStatus::success) return 0;
    if (status == UsbStatus::pipeStalled) {
        displayInterface->clearPipeStallBothEnds(displayPipe);
        return -1;
    }
    push2_display_close();
    return -1;
}

void push2_convert_rgba(const uint8_t* rgba, uint16_t* out, int count) {
    // Whole 32-bit words (R in the low byte): each field is one shift and one mask of the word, then
    // the words narrow to 16 bits, eight pixels at a time.
    int i = 0;
    typedef uint32_t Words __attribute__((vector_size(32)));
    typedef uint16_t Pixels __attribute__((vector_size(16)));
    for (; i + 8 <= count; i += 8) {
        Words w;
        std::memcpy(&w, rgba + 4 * size_t(i), sizeof w);
        Words pixel = ((w >> 3) & 0x1F) | ((w >> 5) & 0x7E0) | ((w >> 8) & 0xF800);
        Pixels narrow = __builtin_convertvector(pixel, Pixels);
        std::memcpy(out + i, &narrow, sizeof narrow);
    }
    for (; i < count; ++i) {
        uint32_t w;
        std::memcpy(&w, rgba + 4 * size_t(i), 4);
        out[i] = uint16_t(((w >> 3) & 0x1F) | ((w >> 5) & 0x7E0) | ((w >> 8) & 0xF800));
    }
}
