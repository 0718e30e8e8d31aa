#pragma once

#include "platform/FolderWatcher.h"

#include <map>
#include <mutex>
#include <vector>

namespace tandem {

// Folder watches in the simulation: an event whenever the simulated Koala writes into a folder, or a
// test says a folder changed. Like the real ones, a watch holds on to the folder it was made on: once
// the folder is replaced (a new file number under the same path) the old watch hears nothing more, and
// only folders that exist can be watched. Thread-safe.
class SimFolderWatcher final : public FolderWatcher {
public:
    SimFolderWatcher();

    std::unique_ptr<FolderWatch> watch(const std::filesystem::path& folder, std::shared_ptr<Queue> queue,
                                       std::function<void()> handler) override;
    // Something changed in `folder`: every watch on it gets an event on its queue.
    void changed(const std::filesystem::path& folder);
    // Watches alive now (all folders), and made since the start.
    size_t watches();
    size_t made();

    struct Entry;
    struct State;

private:
    std::shared_ptr<State> state;
};

} // namespace tandem
