#include "platform/sim/SimScreens.h"

#include <algorithm>

namespace tandem {

Screen SimScreens::mainScreen() {
    return {{0, 0, 1440, 900},
            {0, 0, 1440, 875},
            "Built-in Retina Display",
            1,
            "37D8832A-2D66-02CA-B9F7-8F30A301B230"};
}

Screen SimScreens::mpcTouchScreen(Rect frame) {
    return {frame, frame, "MPC Touch", 0x4D5043, "9C1A3E5B-7F24-4D60-8C11-4D5043544348"};
}

void SimScreens::add(const Screen& screen) {
    {
        std::lock_guard guard(lock);
        list.push_back(screen);
    }
    changes.post();
}

bool SimScreens::remove(uint32_t number) {
    {
        std::lock_guard guard(lock);
        if (!std::erase_if(list, [&](const Screen& screen) { return screen.number == number; })) return false;
    }
    changes.post();
    return true;
}

bool SimScreens::setFrame(uint32_t number, Rect frame) {
    {
        std::lock_guard guard(lock);
        auto found =
            std::find_if(list.begin(), list.end(), [&](const Screen& s) { return s.number == number; });
        if (found == list.end()) return false;
        found->frame = found->visibleFrame = frame;
    }
    changes.post();
    return true;
}

std::vector<Screen> SimScreens::screens() {
    std::lock_guard guard(lock);
    return list;
}

ObservationToken SimScreens::observeChanges(std::shared_ptr<Queue> queue, std::function<void()> handler) {
    return changes.add(std::move(queue), std::move(handler));
}

} // namespace tandem
