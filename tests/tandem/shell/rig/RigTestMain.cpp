#include <QApplication>

#include <gtest/gtest.h>

// The rig's pictures lay out text and its window needs widgets: a QApplication on the offscreen
// platform, off any real display.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
