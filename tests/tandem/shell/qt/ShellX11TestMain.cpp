// The windows' test program under a real X server: a QApplication on the server named by DISPLAY
// (scripts/test starts a virtual one), as Tandem runs on a desktop. With no server answering, Qt
// runs offscreen and every test skips, saying why.

#include <QApplication>

#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <cstdlib>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    Display* probe = XOpenDisplay(nullptr);
    const bool haveServer = probe != nullptr;
    if (probe) XCloseDisplay(probe);
    // Should the server refuse Qt's own connection after answering the probe (a busy shared server),
    // Qt falls back to offscreen and the tests skip, saying so, rather than abort the program.
    setenv("QT_QPA_PLATFORM", haveServer ? "xcb;offscreen" : "offscreen", 1);
    // The windows need no session bus. Without one named, libdbus would find one through the X
    // server for Qt's accessibility bridge and keep buffers that LeakSanitizer reports at exit.
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tandem-tests-use-no-session-bus", 0);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
