// The X test program's entry: a QGuiApplication for QtScreens, on the X server when one answers
// (as Tandem runs), else offscreen, and the tests run with it alive.

#include <QGuiApplication>

#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <cstdlib>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    Display* probe = XOpenDisplay(nullptr);
    const bool haveServer = probe != nullptr;
    if (probe) XCloseDisplay(probe);
    setenv("QT_QPA_PLATFORM", haveServer ? "xcb" : "offscreen", 1);
    QGuiApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
