#include "base/ActivityLog.h"
#include "support/ScratchHome.h"

#include <QApplication>

#include <gtest/gtest.h>

// The desktop needs a QApplication; the offscreen platform keeps the tests off any real display, and
// has no system tray. HOME is one scratch folder for the whole run, so the log that tells of the
// missing tray is read in one place whichever test wrote it.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    tandem::testing::ScratchHome home;
    int result = 0;
    {
        QApplication application(argc, argv);
        result = RUN_ALL_TESTS();
    }
    tandem::ActivityLog::flush();
    return result;
}
