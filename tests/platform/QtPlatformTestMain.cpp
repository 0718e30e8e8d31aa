// The Qt platform test program's entry: a QCoreApplication alive while the tests run. Started as
// "--instance-owner NAME" it is instead a running copy for the instance-channel tests to find: it
// claims NAME, prints its process id and, once asked to come forward, prints "activated" and ends.
// "--busy-instance-owner NAME" claims the name but keeps its event loop from running for ten
// seconds, as a copy still starting up does.

#include "platform/TandemIdentity.h"
#include "platform/qt/QtInstanceChannel.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <thread>

namespace {

int runOwner(QCoreApplication& application, const char* name, bool busy) {
    tandem::QtInstanceChannel channel(tandem::tandemBundleIdentifier, "Tandem", name);
    bool claimed = channel.listen([] {
        std::printf("activated\n");
        std::fflush(stdout);
        // The answer goes out on the next turns of the loop; end after it has.
        QTimer::singleShot(300, [] { QCoreApplication::exit(0); });
    });
    std::printf("%d\n", claimed ? static_cast<int>(::getpid()) : -1);
    std::fflush(stdout);
    if (!claimed) return 2;
    if (busy) {
        std::this_thread::sleep_for(std::chrono::seconds(10));
        return 0;
    }
    QTimer::singleShot(20000, [] { QCoreApplication::exit(3); }); // never outlive a failed test
    return application.exec();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "--instance-owner") == 0)
        return runOwner(application, argv[2], false);
    if (argc == 3 && std::strcmp(argv[1], "--busy-instance-owner") == 0)
        return runOwner(application, argv[2], true);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
