#include "platform/sim/SimFolderWatcher.h"

#include <algorithm>
#include <optional>
#include <sys/stat.h>

namespace tandem {

struct SimFolderWatcher::Entry {
    std::filesystem::path folder;
    uint64_t fileNumber = 0;
    std::shared_ptr<Queue> queue;
    std::function<void()> handler;
    std::shared_ptr<bool> live = std::make_shared<bool>(true);
};

struct SimFolderWatcher::State {
    std::mutex lock;
    std::vector<std::shared_ptr<Entry>> entries;
    size_t made = 0;
};

namespace {

class SimWatch final : public FolderWatch {
public:
    SimWatch(std::weak_ptr<SimFolderWatcher::State> state, std::shared_ptr<SimFolderWatcher::Entry> entry)
        : state(std::move(state))
        , entry(std::move(entry)) {}
    ~SimWatch() override {
        *entry->live = false;
        if (auto shared = state.lock()) {
            std::lock_guard guard(shared->lock);
            std::erase(shared->entries, entry);
        }
    }

private:
    std::weak_ptr<SimFolderWatcher::State> state;
    std::shared_ptr<SimFolderWatcher::Entry> entry;
};

std::optional<uint64_t> fileNumber(const std::filesystem::path& folder) {
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return std::nullopt;
    return uint64_t(status.st_ino);
}

std::filesystem::path normal(const std::filesystem::path& folder) {
    auto path = folder.lexically_normal();
    if (path.has_relative_path() && path.filename().empty()) path = path.parent_path(); // a trailing slash
    return path;
}

} // namespace

SimFolderWatcher::SimFolderWatcher()
    : state(std::make_shared<State>()) {}

std::unique_ptr<FolderWatch> SimFolderWatcher::watch(const std::filesystem::path& folder,
                                                     std::shared_ptr<Queue> queue, std::function<void()> handler) {
    auto number = fileNumber(folder);
    if (!number) return nullptr;
    auto entry = std::make_shared<Entry>();
    entry->folder = normal(folder);
    entry->fileNumber = *number;
    entry->queue = std::move(queue);
    entry->handler = std::move(handler);
    auto& all = state;
    std::lock_guard guard(all->lock);
    all->entries.push_back(entry);
    ++all->made;
    return std::make_unique<SimWatch>(all, entry);
}

void SimFolderWatcher::changed(const std::filesystem::path& folder) {
    const auto target = normal(folder);
    const auto number = fileNumber(target);
    std::vector<std::shared_ptr<Entry>> hit;
    {
        auto& all = state;
        std::lock_guard guard(all->lock);
        for (auto& entry : all->entries) {
            if (entry->folder == target && entry->fileNumber == number) hit.push_back(entry);
        }
    }
    for (auto& entry : hit) {
        entry->queue->async([live = entry->live, handler = entry->handler] {
            if (*live) handler();
        });
    }
}

size_t SimFolderWatcher::watches() {
    auto& all = state;
    std::lock_guard guard(all->lock);
    return all->entries.size();
}

size_t SimFolderWatcher::made() {
    std::lock_guard guard(state->lock);
    return state->made;
}

} // namespace tandem
