#pragma once

// The Push 2 display transport: frames over USB bulk transfers in the frame format Ableton publishes.
// Plain functions with process-wide state, one display at a time; every call runs on one serial queue.

#include <cstddef>
#include <cstdint>

namespace tandem {
class UsbHost;
}

inline constexpr int push2_display_width = 960;
inline constexpr int push2_display_height = 160;
inline constexpr size_t push2_display_line_bytes = 2048;
inline constexpr size_t push2_display_frame_bytes =
    push2_display_line_bytes * push2_display_height; // 327,680

// The module's one setter, used by its owner: the USB host to find the display on. Closes any open
// display first. Like every call here it runs only on the display queue; the owner hands the host over
// there and clears it there (push2_display_use(nullptr)) before destroying the host, so the module
// never holds a host that is gone.
void push2_display_use(tandem::UsbHost* host);

// 0 open (also when already open), -1 not found, -2 in use by another process, -3 other failure.
int32_t push2_display_open(void);
bool push2_display_is_open(void);
void push2_display_close(void);
// Sends one frame of 960 × 160 RGB565 pixels (row-major, top-left first): 0, or -1 when not open or
// on any failure. A stalled pipe is cleared and the display kept open; other failures close it.
int32_t push2_display_send(const uint16_t* pixels);
// 8-bit R, G, B, A (alpha ignored) to the display's 16-bit pixels: red in bits 0-4, green 5-10,
// blue 11-15.
void push2_convert_rgba(const uint8_t* rgba, uint16_t* out, int count);
// The 160 masked lines of a frame as they go on the wire (327,680 bytes into `out`).
void push2_display_encode(const uint16_t* pixels, uint8_t* out);
