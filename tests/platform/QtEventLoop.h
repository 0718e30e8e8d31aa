#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <functional>

namespace tandem::testing {

// Runs the application's event loop until `done` holds or `seconds` have passed; the result is `done`.
inline bool spinUntil(const std::function<bool()>& done, double seconds = 5) {
    if (done()) return true;
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) loop.quit();
    });
    QTimer::singleShot(std::chrono::milliseconds(static_cast<int>(seconds * 1000)), &loop, &QEventLoop::quit);
    poll.start();
    loop.exec();
    return done();
}

// Runs the event loop for `seconds`.
inline void spinFor(double seconds) {
    spinUntil([] { return false; }, seconds);
}

} // namespace tandem::testing
