#include <QApplication>

#include <gtest/gtest.h>

// The bridge draws the Push's screen and its preview window with Qt: text is laid out only with an
// application alive, and the offscreen platform keeps these tests off any display.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
