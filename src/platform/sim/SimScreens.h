#pragma once

#include "platform/Screens.h"
#include "platform/sim/SimNotices.h"

#include <mutex>

namespace tandem {

// Simulated screens: tests and the rig add, move and remove them; every change is announced.
class SimScreens final : public Screens {
public:
    // The main screen of the rig: 1440 × 900 with a 25-point menu bar.
    static Screen mainScreen();
    // The MPC Touch's DisplayLink screen, 1280 × 800, with its frame placed by the caller.
    static Screen mpcTouchScreen(Rect frame);

    void add(const Screen& screen);
    // Removes the screen with that number; false when there is none.
    bool remove(uint32_t number);
    bool setFrame(uint32_t number, Rect frame);

    std::vector<Screen> screens() override;
    ObservationToken observeChanges(std::shared_ptr<Queue> queue, std::function<void()> handler) override;

private:
    std::mutex lock;
    std::vector<Screen> list;
    SimNotices<> changes;
};

} // namespace tandem
