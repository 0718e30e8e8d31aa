#include <QApplication>

#include <gtest/gtest.h>

// The windows need a QApplication; the offscreen platform keeps them off any real display and gives
// them one fixed primary screen.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
