#include "tandem/webcam/sources/KoalaScreenCapture.h"

#include "tandem/webcam/sources/WebcamSourceTexts.h"

#include <algorithm>
#include <cmath>

namespace tandem {

namespace {

const std::string koalaBundle = "com.elf-audio.koala-mac";

} // namespace

std::optional<KoalaScreenCapture::Target>
KoalaScreenCapture::findTarget(const std::vector<WindowInfo>& windows, const std::vector<Screen>& screens,
                               int32_t koala) {
    const WindowInfo* best = nullptr;
    double bestArea = 0;
    for (const WindowInfo& window : windows) {
        if (window.ownerProcessIdentifier != koala || window.layer != 0 || !window.bounds) continue;
        if (!(window.bounds->width > 200)) continue;
        const double area = window.bounds->width * window.bounds->height;
        // The earlier (front) one wins a tie.
        if (!best || area > bestArea) {
            best = &window;
            bestArea = area;
        }
    }
    if (!best || screens.empty()) return std::nullopt;
    const Rect frame = *best->bounds;
    const Point centre{frame.midX(), frame.midY()};
    const Screen* display = &screens.front();
    for (const Screen& screen : screens) {
        if (displayRect(screen.frame, screens).contains(centre)) {
            display = &screen;
            break;
        }
    }
    const Rect bounds = displayRect(display->frame, screens);
    const double x0 = std::clamp(frame.x - bounds.x, 0.0, bounds.width);
    const double y0 = std::clamp(frame.y - bounds.y, 0.0, bounds.height);
    const double x1 = std::clamp(frame.maxX() - bounds.x, 0.0, bounds.width);
    const double y1 = std::clamp(frame.maxY() - bounds.y, 0.0, bounds.height);
    if (!(x1 > x0) || !(y1 > y0)) return std::nullopt;
    Target target;
    target.target = {display->number.value_or(0), bounds, koala, best->number, frame};
    target.region = {x0, y0, x1 - x0, y1 - y0};
    return target;
}

ScreenStreamConfiguration KoalaScreenCapture::configuration(const Rect& region, bool video, bool audio) {
    ScreenStreamConfiguration configuration;
    configuration.capturesAudio = audio;
    configuration.excludesCurrentProcessAudio = true;
    configuration.sampleRate = 48000;
    configuration.channelCount = 2;
    configuration.queueDepth = 5;
    configuration.showsCursor = true;
    if (video) {
        configuration.sourceRect = region;
        const double scale = std::min(1920.0 / std::max(region.width, region.height), 2.0);
        configuration.width = 2 * int(region.width * scale * 0.5);
        configuration.height = 2 * int(region.height * scale * 0.5);
        configuration.minimumFrameInterval = 1.0 / 30;
    } else {
        configuration.width = 64;
        configuration.height = 64;
        configuration.minimumFrameInterval = 1.0;
    }
    return configuration;
}

KoalaScreenCapture::KoalaScreenCapture(Services services)
    : services(std::move(services)) {}

KoalaScreenCapture::~KoalaScreenCapture() {
    stop();
}

std::optional<int32_t> KoalaScreenCapture::koalaProcess() {
    for (const RunningApplication& application : services.workspace.runningApplications()) {
        if (application.bundleIdentifier == koalaBundle && !application.terminated)
            return application.processIdentifier;
    }
    return std::nullopt;
}

void KoalaScreenCapture::start(bool wantVideo, bool wantAudio,
                               std::function<void(std::optional<std::string>)> done) {
    {
        std::lock_guard guard(stateLock);
        video = wantVideo;
        audio = wantAudio;
    }
    auto finish = [main = services.main, done](std::string message) {
        main->async([done, message] {
            if (done) done(message);
        });
    };
    if (!services.capture.contentAvailable()) return finish(WebcamSourceTexts::screenPermission);
    const auto koala = koalaProcess();
    const auto found =
        koala ? findTarget(services.windows.onScreenWindows(), services.screens.screens(), *koala)
              : std::nullopt;
    if (!found) return finish(WebcamSourceTexts::openKoalaFirst);

    std::weak_ptr<KoalaScreenCapture> weak = weak_from_this();
    ScreenStreamHandlers handlers;
    handlers.onFrame = [weak](std::shared_ptr<const VideoFrame> frame) {
        auto self = weak.lock();
        if (!self) return;
        {
            std::lock_guard guard(self->stateLock);
            if (!self->video || self->stopped) return;
        }
        std::lock_guard guard(self->lock);
        self->newest = std::move(frame);
    };
    handlers.onAudio = [weak](const SampleBuffer& buffer) {
        auto self = weak.lock();
        if (!self) return;
        {
            std::lock_guard guard(self->stateLock);
            if (!self->audio || self->stopped) return;
        }
        if (self->onAudio) self->onAudio(buffer);
    };
    handlers.onStop = [weak, main = services.main](const Error& error) {
        main->async([weak, error] {
            auto self = weak.lock();
            if (!self) return;
            {
                std::lock_guard guard(self->stateLock);
                if (self->stopped) return;
            }
            if (self->onStop) self->onStop(WebcamSourceTexts::captureStopped + error.description);
        });
    };
    auto made = services.capture.makeStream(found->target, configuration(found->region, wantVideo, wantAudio),
                                            services.queue, std::move(handlers));
    made->start([weak, made, target = *found, main = services.main, done](std::optional<Error> error) {
        main->async([weak, made, target, error, done] {
            auto self = weak.lock();
            if (!self) {
                made->stop();
                return;
            }
            self->started(made, target, error, done);
        });
    });
}

void KoalaScreenCapture::started(std::shared_ptr<ScreenStream> made, Target found, std::optional<Error> error,
                                 const std::function<void(std::optional<std::string>)>& done) {
    if (error) {
        made->stop();
        if (done) done(WebcamSourceTexts::screenPermission);
        return;
    }
    {
        std::lock_guard guard(stateLock);
        if (!stopped) {
            stream = made;
            target = found;
            if (video) {
                std::weak_ptr<KoalaScreenCapture> weak = weak_from_this();
                refresh = services.main->timer(2.0, 2.0, [weak] {
                    if (auto self = weak.lock()) self->follow();
                });
            }
            made = nullptr;
        }
    }
    // Stopped while starting: end it now and tell no one.
    if (made) {
        made->stop();
        return;
    }
    if (done) done(std::nullopt);
}

void KoalaScreenCapture::follow() {
    const auto koala = koalaProcess();
    const auto found =
        koala ? findTarget(services.windows.onScreenWindows(), services.screens.screens(), *koala)
              : std::nullopt;
    std::shared_ptr<ScreenStream> moving;
    ScreenStreamConfiguration changed;
    {
        std::lock_guard guard(stateLock);
        if (!found || !stream || stopped || !target) return;
        // A new display or window needs a new target as well, not only a new region of the old one.
        if (found->region == target->region && found->target.display == target->target.display &&
            found->target.window == target->target.window)
            return;
        target = found;
        moving = stream;
        changed = configuration(found->region, video, audio);
    }
    moving->update(found->target, changed);
}

void KoalaScreenCapture::stop() {
    std::shared_ptr<ScreenStream> ending;
    std::unique_ptr<Timer> timer;
    {
        std::lock_guard guard(stateLock);
        stopped = true;
        timer = std::move(refresh);
        ending = std::move(stream);
    }
    if (timer) timer->cancel();
    if (ending) ending->stop();
    std::lock_guard guard(lock);
    newest = nullptr;
}

std::shared_ptr<const VideoFrame> KoalaScreenCapture::latest() {
    std::lock_guard guard(lock);
    return newest;
}

std::optional<KoalaScreenCapture::Target> KoalaScreenCapture::current() {
    std::lock_guard guard(stateLock);
    return target;
}

} // namespace tandem
