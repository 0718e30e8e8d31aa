#pragma once

#include "base/Queue.h"

#include <filesystem>
#include <functional>
#include <memory>

namespace tandem {

// A watch on one folder; destroying it cancels it and waits until no event can still be delivered.
class FolderWatch {
public:
    virtual ~FolderWatch() = default;
};

// Changes among one folder's entries (an entry created, deleted, moved, written; the folder itself
// deleted or moved away), delivered as events on a queue. The handler learns only that something
// changed: the watcher's owner looks at the folder itself.
class FolderWatcher {
public:
    virtual ~FolderWatcher() = default;

    // Nothing when the folder cannot be watched (missing, not a folder, no permission).
    virtual std::unique_ptr<FolderWatch> watch(const std::filesystem::path& folder, std::shared_ptr<Queue> queue,
                                               std::function<void()> handler) = 0;
};

} // namespace tandem
