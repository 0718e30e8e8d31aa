#pragma once

namespace tandem {

// What the system lets Tandem capture, per kind of device.
enum class MediaKind { camera, microphone, screen };
enum class MediaAuthorization { notDetermined, restricted, denied, authorized };

class MediaPermissions {
public:
    virtual ~MediaPermissions() = default;

    virtual MediaAuthorization status(MediaKind kind) = 0;
    // Asks the user when undecided and waits for the answer; true when access is granted. Callers use
    // a queue of their own: this may block for as long as the user takes to answer.
    virtual bool request(MediaKind kind) = 0;
};

} // namespace tandem
