#pragma once

#include "platform/FolderWatcher.h"

namespace tandem {

// Folder watches through inotify: entries created, deleted, moved in or out, written or closed after
// writing, and the folder itself deleted or moved. One thread per watch waits on the inotify
// descriptor and on a cancel signal; destroying the watch stops and joins it.
class InotifyFolderWatcher final : public FolderWatcher {
public:
    std::unique_ptr<FolderWatch> watch(const std::filesystem::path& folder, std::shared_ptr<Queue> queue,
                                       std::function<void()> handler) override;
};

} // namespace tandem
