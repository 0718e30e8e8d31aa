#include "platform/linux/InotifyFolderWatcher.h"
#include "platform/sim/SimFolderWatcher.h"

#include "base/ScratchFolder.h"
#include "base/SimTime.h"
#include "base/ThreadQueue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>

namespace tandem {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Counts the events a watch delivers, and waits for the next one.
struct Events {
    std::mutex lock;
    std::condition_variable arrived;
    int count = 0;

    std::function<void()> handler() {
        return [this] {
            std::lock_guard guard(lock);
            ++count;
            arrived.notify_all();
        };
    }
    // Whether an event arrives after `seen` within two seconds.
    bool after(int seen) {
        std::unique_lock guard(lock);
        return arrived.wait_for(guard, 2s, [&] { return count > seen; });
    }
    int seen() {
        std::lock_guard guard(lock);
        return count;
    }
    // Lets a burst of events settle into the count.
    int settled() {
        std::this_thread::sleep_for(100ms);
        return seen();
    }
};

void write(const fs::path& file, const std::string& text) {
    std::ofstream(file) << text;
}

TEST(InotifyFolderWatcher, EveryKindOfEntryChangeIsAnEvent) {
    ScratchFolder scratch("tandem-watch");
    const fs::path folder = scratch.path() / "sampler";
    fs::create_directories(folder);
    auto queue = std::make_shared<ThreadQueue>("watch events");
    Events events;
    InotifyFolderWatcher watcher;
    auto watch = watcher.watch(folder, queue, events.handler());
    ASSERT_TRUE(watch);

    int seen = events.settled();
    write(folder / "1.wav", "RIFF");
    EXPECT_TRUE(events.after(seen)) << "created";
    seen = events.settled();
    std::ofstream(folder / "1.wav", std::ios::app) << "more";
    EXPECT_TRUE(events.after(seen)) << "modified";
    seen = events.settled();
    fs::rename(folder / "1.wav", folder / "2.wav");
    EXPECT_TRUE(events.after(seen)) << "renamed";
    seen = events.settled();
    fs::rename(folder / "2.wav", scratch.path() / "2.wav");
    EXPECT_TRUE(events.after(seen)) << "moved out";
    seen = events.settled();
    fs::rename(scratch.path() / "2.wav", folder / "3.wav");
    EXPECT_TRUE(events.after(seen)) << "moved in";
    seen = events.settled();
    fs::remove(folder / "3.wav");
    EXPECT_TRUE(events.after(seen)) << "deleted";
    // A file elsewhere is not this folder's business.
    seen = events.settled();
    write(scratch.path() / "song.json", "{}");
    EXPECT_EQ(events.settled(), seen);
    // The folder itself going away is the last event of the watch.
    fs::remove_all(folder);
    EXPECT_TRUE(events.after(seen)) << "folder gone";
    seen = events.settled();
    fs::create_directories(folder);
    write(folder / "4.wav", "RIFF");
    EXPECT_EQ(events.settled(), seen);
    watch.reset(); // joins the finished thread cleanly
}

TEST(InotifyFolderWatcher, CancellingStopsEventsAndMissingFoldersAreRefused) {
    ScratchFolder scratch("tandem-watch");
    auto queue = std::make_shared<ThreadQueue>("watch events");
    Events events;
    InotifyFolderWatcher watcher;
    EXPECT_FALSE(watcher.watch(scratch.path() / "missing", queue, events.handler()));
    write(scratch.path() / "file", "x");
    EXPECT_FALSE(watcher.watch(scratch.path() / "file", queue, events.handler()));

    auto watch = watcher.watch(scratch.path(), queue, events.handler());
    ASSERT_TRUE(watch);
    watch.reset();
    const int seen = events.settled();
    write(scratch.path() / "after", "x");
    EXPECT_EQ(events.settled(), seen);
}

} // namespace
} // namespace tandem
