#include "platform/linux/InotifyFolderWatcher.h"

#include <atomic>
#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

namespace tandem {

namespace {

class InotifyWatch final : public FolderWatch {
public:
    InotifyWatch(int notify, int cancel, std::shared_ptr<Queue> queue, std::function<void()> handler)
        : notify(notify)
        , cancel(cancel)
        , live(std::make_shared<std::atomic<bool>>(true)) {
        thread = std::thread([this, queue = std::move(queue), handler = std::move(handler)] {
            run(queue, handler);
        });
    }

    ~InotifyWatch() override {
        *live = false;
        const uint64_t one = 1;
        (void)!::write(cancel, &one, sizeof one);
        thread.join();
        ::close(notify);
        ::close(cancel);
    }

private:
    void run(const std::shared_ptr<Queue>& queue, const std::function<void()>& handler) {
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            pollfd fds[2] = {{notify, POLLIN, 0}, {cancel, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[1].revents) return;
            if (!(fds[0].revents & POLLIN)) continue;
            ssize_t length = ::read(notify, buffer, sizeof buffer);
            if (length <= 0) continue;
            bool gone = false;
            for (char* at = buffer; at < buffer + length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                gone |= (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) != 0;
                at += sizeof(inotify_event) + event->len;
            }
            // A burst of changes becomes one event: the owner looks at the folder itself.
            queue->async([live = live, handler] {
                if (*live) handler();
            });
            if (gone) return; // the folder is gone; its owner watches the new one when it appears
        }
    }

    int notify;
    int cancel;
    std::shared_ptr<std::atomic<bool>> live;
    std::thread thread;
};

} // namespace

std::unique_ptr<FolderWatch> InotifyFolderWatcher::watch(const std::filesystem::path& folder,
                                                         std::shared_ptr<Queue> queue, std::function<void()> handler) {
    int notify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (notify < 0) return nullptr;
    const uint32_t mask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY | IN_CLOSE_WRITE |
                          IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
    if (::inotify_add_watch(notify, folder.c_str(), mask) < 0) {
        ::close(notify);
        return nullptr;
    }
    int cancel = ::eventfd(0, EFD_CLOEXEC);
    if (cancel < 0) {
        ::close(notify);
        return nullptr;
    }
    return std::make_unique<InotifyWatch>(notify, cancel, std::move(queue), std::move(handler));
}

} // namespace tandem
