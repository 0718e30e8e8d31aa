#include <QGuiApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

// The card draws text, which needs a Qt application; the offscreen platform keeps the tests off any
// display. Recordings are named by local time: the tests read it in UTC.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    setenv("TZ", "UTC", 1);
    tzset();
    ::testing::InitGoogleTest(&argc, argv);
    QGuiApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
