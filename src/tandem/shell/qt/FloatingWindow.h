#pragma once

#include <QGuiApplication>
#include <QString>
#include <Qt>

namespace tandem {

// A borderless window at the floating level that never takes focus: the status cards and the overlay's
// panels. Under X11 the window manager would otherwise decide focus, stacking and the task bar; an
// override-redirect window stays out of all three, like a non-activating floating panel on a Mac.
inline Qt::WindowFlags floatingWindowFlags() {
    Qt::WindowFlags flags =
        Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus;
    if (QGuiApplication::platformName() == QLatin1String("xcb")) flags |= Qt::X11BypassWindowManagerHint;
    return flags;
}

} // namespace tandem
