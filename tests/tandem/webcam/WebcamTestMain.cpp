#include <QGuiApplication>

#include <gtest/gtest.h>

// Text and painting need a Qt application; the offscreen platform keeps the tests off any display and
// draws the same on every machine.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QGuiApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
