#pragma once

// What the X11 adapters do when no X server answers: the same checks serve the test program run with
// $DISPLAY pointing nowhere and the X tests on a machine without a server.

#include "base/ThreadQueue.h"
#include "platform/linux/LinuxWorkspace.h"
#include "platform/linux/X11Accessibility.h"
#include "platform/linux/X11Pointer.h"
#include "platform/linux/X11WindowServer.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace tandem::testing {

inline void expectNoWindows(X11WindowServer& server) {
    EXPECT_TRUE(server.onScreenWindows().empty());
}

inline void expectUntrusted(X11Accessibility& accessibility) {
    EXPECT_FALSE(accessibility.isProcessTrusted(true));
    AXElement application = accessibility.applicationElement(::getpid());
    EXPECT_NE(application.id, 0u); // an element can be made, but nothing read through it
    EXPECT_FALSE(accessibility.attribute(application, "AXWindows").has_value());
    EXPECT_FALSE(accessibility.setAttribute(application, "AXPosition", Point{1, 2}));
    EXPECT_FALSE(accessibility.performAction(application, "AXPress"));
}

// No event is made, posting does nothing, and a monitor stays silent while the queue is served.
inline void expectNoPointer(X11Pointer& pointer) {
    EXPECT_FALSE(pointer.makeMouseEvent(PointerEventType::leftMouseDown, {10, 10}).has_value());
    pointer.post(PointerEvent{PointerEventType::leftMouseDown, {10, 10}, 0, 1, 5});
    pointer.post(PointerEvent{PointerEventType::leftMouseUp, {10, 10}, 0, 1, 5});
    EXPECT_FALSE(pointer.location().has_value());
    EXPECT_FALSE(pointer.leftButtonDown());
    auto queue = std::make_shared<ThreadQueue>("monitor");
    std::atomic<int> calls{0};
    {
        auto token = pointer.monitorLeftButton(queue, [&](const MonitoredEvent&) { ++calls; });
        ASSERT_NE(token, nullptr);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    queue->sync([] {});
    EXPECT_EQ(calls, 0);
}

inline void expectNoActivation(LinuxWorkspace& workspace) {
    EXPECT_FALSE(workspace.activate(::getpid(), activateAllWindows | activateIgnoringOtherApps));
    EXPECT_FALSE(workspace.frontmostApplication().has_value());
}

} // namespace tandem::testing
