#pragma once

#include "platform/MediaPermissions.h"

#include <map>
#include <mutex>

namespace tandem {

// Permissions as a test sets them; an undecided request is answered with `answer` (granted unless
// changed) and remembered, as the system remembers the user's choice.
class SimMediaPermissions final : public MediaPermissions {
public:
    void set(MediaKind kind, MediaAuthorization status) {
        std::lock_guard guard(lock);
        statuses[kind] = status;
    }
    void setAnswer(MediaKind kind, bool grant) {
        std::lock_guard guard(lock);
        answers[kind] = grant;
    }
    int requests(MediaKind kind) {
        std::lock_guard guard(lock);
        return asked[kind];
    }

    MediaAuthorization status(MediaKind kind) override {
        std::lock_guard guard(lock);
        auto found = statuses.find(kind);
        return found == statuses.end() ? MediaAuthorization::authorized : found->second;
    }
    bool request(MediaKind kind) override {
        std::lock_guard guard(lock);
        ++asked[kind];
        auto found = statuses.find(kind);
        MediaAuthorization& status =
            found == statuses.end() ? statuses[kind] = MediaAuthorization::authorized : found->second;
        if (status == MediaAuthorization::notDetermined) {
            auto answer = answers.find(kind);
            status = answer == answers.end() || answer->second ? MediaAuthorization::authorized
                                                               : MediaAuthorization::denied;
        }
        return status == MediaAuthorization::authorized;
    }

private:
    std::mutex lock;
    std::map<MediaKind, MediaAuthorization> statuses;
    std::map<MediaKind, bool> answers;
    std::map<MediaKind, int> asked;
};

} // namespace tandem
