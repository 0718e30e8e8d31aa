#pragma once

#include "tandem/push/KoalaView.h"

#include <string>

namespace tandem {

// The on-screen copy of the Push 2's display: a window showing the same view the Push shows, at any
// size. Main queue only.
class PushPreview {
public:
    virtual ~PushPreview() = default;

    // Opens (or brings back) the window: 960 × 160 content, closable and miniaturisable, centred.
    virtual void open(const std::string& title) = 0;
    // Draws `view` from now on.
    virtual void show(const KoalaView& view) = 0;
    // Closes the window; a later open brings it back.
    virtual void close() = 0;
};

} // namespace tandem
