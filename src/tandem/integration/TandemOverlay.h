#pragma once

#include "platform/Pointer.h"

#include <optional>
#include <vector>

namespace tandem {

// The touch buttons over Koala on the MPC display. A press on one is carried out by clicking
// Koala's own, much smaller, button at the matching point of Koala's window.
class TandemOverlay {
public:
    struct Press {
        enum class Kind { bank, mixer };
        Kind kind = Kind::bank;
        int bank = 0;

        static Press forBank(int bank) { return {Kind::bank, bank}; }
        static Press mixer() { return {Kind::mixer, 0}; }
        bool operator==(const Press&) const = default;
    };

    struct Rect {
        double x = 0, y = 0, width = 0, height = 0;
    };

    // Marks Tandem's own synthesized events so that its touch monitor never mistakes them for the
    // musician's ("TANDEM!!").
    static constexpr int64_t eventMarker = 0x54414E44454D2121;

    // The point of Koala's own button for a press, in display coordinates, for Koala's window frame.
    static PointerPoint target(const Rect& frame, const Press& press);
    // A marked mouse move, left-button press and release at the point; nothing when the pointer
    // cannot make one of them. Posts nothing.
    static std::optional<std::vector<PointerEvent>> clickEvents(Pointer& pointer, PointerPoint point);

    // The measured targets on a 1280 × 800 window and the three marked events, posting nothing.
    static bool offlineSelfCheck(Pointer& pointer);
};

} // namespace tandem
