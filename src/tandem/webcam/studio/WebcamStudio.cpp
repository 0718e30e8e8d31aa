#include "tandem/webcam/studio/WebcamStudio.h"

#include "tandem/looks/KoalaLook.h"
#include "tandem/webcam/WebcamEffectState.h"
#include "tandem/webcam/sources/KoalaAudioTap.h"
#include "tandem/webcam/sources/KoalaScreenCapture.h"
#include "tandem/webcam/sources/WebcamCamera.h"
#include "tandem/webcam/sources/WebcamMicrophone.h"
#include "tandem/webcam/sources/WebcamMonitor.h"
#include "tandem/webcam/sources/WebcamSourceTexts.h"
#include "tandem/webcam/studio/WebcamDevices.h"

#include <QTransform>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>

namespace tandem {

namespace {

const std::string koalaBundle = "com.elf-audio.koala-mac";
const std::string noCamera = "No camera found.";
const std::string audioInputMissing = "That audio input isn't connected.";

// A source's frame as a picture, without copying its pixels: the frame must outlive the picture.
QImage wrap(const VideoFrame& frame) {
    if (frame.width <= 0 || frame.height <= 0 || frame.stride < size_t(frame.width) * 4 ||
        frame.bytes.size() < frame.stride * size_t(frame.height))
        return {};
    return QImage(frame.bytes.data(), frame.width, frame.height, qsizetype(frame.stride),
                  QImage::Format_RGB32);
}

// Allowed now, asking once when undecided (that waits for the user on the setup queue).
bool permitted(MediaPermissions& permissions, MediaKind kind) {
    switch (permissions.status(kind)) {
    case MediaAuthorization::authorized:
        return true;
    case MediaAuthorization::notDetermined:
        return permissions.request(kind);
    case MediaAuthorization::restricted:
    case MediaAuthorization::denied:
        break;
    }
    return false;
}

} // namespace

// ---- geometry ----

std::optional<WebcamStudio::Placement> WebcamStudio::place(QSizeF picture, QRectF rectangle, bool fill) {
    if (!(picture.width() > 0) || !(picture.height() > 0)) return std::nullopt;
    const double sx = rectangle.width() / picture.width(), sy = rectangle.height() / picture.height();
    const double scale = fill ? std::max(sx, sy) : std::min(sx, sy);
    if (!(scale > 0) || !std::isfinite(scale)) return std::nullopt;
    // The whole picture scaled and centred on the rectangle, then cut to it.
    const QSizeF scaled(picture.width() * scale, picture.height() * scale);
    const QRectF whole(rectangle.center().x() - scaled.width() / 2,
                       rectangle.center().y() - scaled.height() / 2, scaled.width(), scaled.height());
    const QRectF target = whole.intersected(rectangle);
    if (target.isEmpty()) return std::nullopt;
    const QRectF source((target.x() - whole.x()) / scale, (target.y() - whole.y()) / scale,
                        target.width() / scale, target.height() / scale);
    return Placement{source, target};
}

QRect WebcamStudio::pixels(const Rect& fractions, int width, int height) {
    // Bounded so that a wild stored layout cannot overflow an int.
    auto bound = [](double value) { return std::clamp(std::isfinite(value) ? value : 0.0, -1e6, 1e6); };
    const double left = std::floor(bound(fractions.x * width));
    const double right = std::ceil(bound((fractions.x + fractions.width) * width));
    const double bottom = std::floor(bound(fractions.y * height));
    const double top = std::ceil(bound((fractions.y + fractions.height) * height));
    // The layout counts up from the bottom; image rows count down from the top.
    return QRect(QPoint(int(left), int(height - top)), QPoint(int(right) - 1, int(height - bottom) - 1));
}

bool WebcamStudio::framed(const QRect& rectangle, int width, int height) {
    return rectangle.width() < 0.98 * width && rectangle.height() < 0.98 * height;
}

std::string WebcamStudio::fileName(std::chrono::system_clock::time_point date, bool vertical) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(date);
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[64];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d at %H.%M.%S", &local);
    return std::string("Koala_Performance ") + stamp + (vertical ? " 9x16" : " 16x9") + ".mp4";
}

// ---- life ----

std::shared_ptr<WebcamStudio> WebcamStudio::make(World world) {
    auto studio = std::shared_ptr<WebcamStudio>(new WebcamStudio(std::move(world)));
    std::weak_ptr<WebcamStudio> weak = studio;
    studio->stutterTouch->onLearned = [weak](Point spot) {
        if (auto self = weak.lock())
            (void)self->update(true, [spot](WebcamSettings& settings) { settings.stutterSpot = spot; });
    };
    return studio;
}

WebcamStudio::WebcamStudio(World given)
    : world(std::move(given))
    , disk(world.disk ? *world.disk : FileSystem::local())
    , stored(WebcamSettings::load(world.defaults))
    , level(world.clock)
    , stutterLength(world.clock) {
    painter = std::make_shared<WebcamOverlayPainter>(
        world.painter ? *world.painter : WebcamOverlayPainter::Services{world.clock, world.loaderQueue});
    stutterTouch = std::make_shared<KoalaStutterTouch>(
        KoalaStutterTouch::Services{world.workspace, world.windows, world.pointer, world.feed, world.main});
    stutterTouch->spot = stored.stutterSpot;
    configureSound(stored);
}

WebcamStudio::~WebcamStudio() {
    if (timer) timer->cancel();
    isRunning = false;
    // Normally `stop` has closed everything on the setup queue already; this is for a studio dropped
    // while running.
    {
        std::lock_guard guard(writerLock);
        writer.reset(); // an unfinished recording is cancelled and its file removed
    }
    if (monitor) monitor->close();
    closeCamera();
    closeAudio();
    stutterTouch->stop();
}

void WebcamStudio::configureSound(const WebcamSettings& settings) {
    sound.configure(settings.drive.value_or(0), settings.mpcOut.value_or(true),
                    settings.limiter.value_or(true), settings.threshold.value_or(0));
}

void WebcamStudio::report(std::optional<std::string> message) {
    std::weak_ptr<WebcamStudio> weak = weak_from_this();
    world.main->async([weak, message = std::move(message)] {
        auto self = weak.lock();
        if (self && self->onProblem) self->onProblem(message);
    });
}

void WebcamStudio::start() {
    if (timer) return;
    isRunning = true;
    report(std::nullopt);
    stutterTouch->start();
    world.setupQueue->async([self = shared_from_this()] {
        self->openCamera();
        self->openAudio();
        self->restartMonitor();
    });
    std::weak_ptr<WebcamStudio> weak = weak_from_this();
    timer = world.queue->timer(tickSeconds, tickSeconds, [weak] {
        if (auto self = weak.lock()) self->tick();
    });
}

void WebcamStudio::stop() {
    std::shared_ptr<WebcamWriter> ending;
    {
        std::lock_guard guard(writerLock);
        ending = std::move(writer);
    }
    // A file that has frames stays on disk.
    if (ending) finishInBackground(std::move(ending));
    if (timer) timer->cancel();
    timer.reset();
    const bool wasRunning = isRunning.exchange(false);
    stutterTouch->stop();
    if (!wasRunning) return;
    world.setupQueue->async([self = shared_from_this()] {
        self->restartMonitor();
        self->closeCamera();
        self->closeAudio();
    });
}

WebcamSettings WebcamStudio::settings() const {
    std::lock_guard guard(settingsLock);
    return stored;
}

Result<void> WebcamStudio::update(bool save, const std::function<void(WebcamSettings&)>& change) {
    WebcamSettings old, now;
    {
        std::lock_guard guard(settingsLock);
        old = stored;
        now = stored;
        change(now);
        stored = now;
    }
    Result<void> saved;
    if (save) saved = now.save(world.defaults);
    if (now == old) return saved;
    configureSound(now);
    if (now.stutterSpot != old.stutterSpot) stutterTouch->spot = now.stutterSpot;
    if (!isRunning) return saved;
    auto self = shared_from_this();
    if (now.camera != old.camera) {
        world.setupQueue->async([self] {
            self->closeCamera();
            self->openCamera();
        });
    }
    const bool reopenAudio = now.audio != old.audio || now.tutorial != old.tutorial;
    const bool listenChanged = now.listen != old.listen || now.listenDevice != old.listenDevice;
    if (reopenAudio || (listenChanged && now.audio == WebcamSettings::koalaAudio)) {
        // The tap is made with the listen choice, so LISTEN on Koala's sound means a new tap.
        world.setupQueue->async([self] {
            self->closeAudio();
            self->openAudio();
            self->restartMonitor();
        });
    } else if (listenChanged) {
        world.setupQueue->async([self] { self->restartMonitor(); });
    }
    return saved;
}

// ---- sources, on the setup queue ----

void WebcamStudio::openCamera() {
    if (!isRunning) return;
    if (!permitted(world.permissions, MediaKind::camera)) return report(WebcamSourceTexts::cameraPermission);
    const WebcamSettings settings = this->settings();
    const std::vector<CameraDevice> devices = WebcamDevices::cameras(world.cameras);
    if (devices.empty()) return report(noCamera);
    const CameraDevice* chosen = &devices.front();
    if (settings.camera) {
        for (const CameraDevice& device : devices)
            if (device.uniqueID == *settings.camera) chosen = &device;
    }
    auto opened = WebcamCamera::open(world.cameras, *chosen, world.cameraQueue);
    if (!opened) return report(opened.error().description);
    opened.value()->start();
    std::lock_guard guard(sourceLock);
    camera = std::move(opened.value());
}

void WebcamStudio::closeCamera() {
    std::shared_ptr<WebcamCamera> ending;
    {
        std::lock_guard guard(sourceLock);
        ending = std::move(camera);
    }
    if (ending) ending->stop();
}

void WebcamStudio::openAudio() {
    if (!isRunning) return;
    const WebcamSettings settings = this->settings();
    const bool koala = settings.audio == WebcamSettings::koalaAudio;
    std::weak_ptr<WebcamStudio> weak = weak_from_this();

    if (koala && world.processTapAvailable) {
        std::optional<int32_t> pid;
        for (const RunningApplication& application : world.workspace.runningApplications()) {
            if (application.bundleIdentifier == koalaBundle && !application.terminated) {
                pid = application.processIdentifier;
                break;
            }
        }
        if (pid) {
            auto made = KoalaAudioTap::make(
                world.audioTaps, *pid, settings.listen.value_or(false), settings.listenDevice.value_or(""),
                [weak](const SampleBuffer& buffer) -> std::optional<SampleBuffer> {
                    auto self = weak.lock();
                    if (!self) return std::nullopt;
                    return self->handleAudio(buffer);
                });
            if (made) {
                koalaTap = std::move(made.value());
            } else {
                report(made.error().description);
            }
        }
    }
    tapRunning = koalaTap != nullptr;

    const bool screenSound = koala && !koalaTap;
    if (settings.tutorial || screenSound) {
        auto capture = std::make_shared<KoalaScreenCapture>(
            KoalaScreenCapture::Services{world.workspace, world.windows, world.screens, world.screenCapture,
                                         world.main, world.screenQueue});
        if (screenSound) {
            capture->onAudio = [weak](const SampleBuffer& buffer) {
                if (auto self = weak.lock()) (void)self->handleAudio(buffer);
            };
        }
        capture->onStop = [weak](const std::string& message) {
            if (auto self = weak.lock()) self->report(message);
        };
        capture->start(settings.tutorial, screenSound, [weak](std::optional<std::string> message) {
            if (!message) return;
            if (auto self = weak.lock()) self->report(std::move(message));
        });
        std::lock_guard guard(sourceLock);
        screen = std::move(capture);
    }

    if (!koala) {
        if (!permitted(world.permissions, MediaKind::microphone))
            return report(WebcamSourceTexts::microphonePermission);
        std::optional<AudioInputDevice> found;
        for (const AudioInputDevice& device : WebcamDevices::microphones(world.microphones))
            if (device.uniqueID == settings.audio) found = device;
        if (!found) return report(audioInputMissing);
        auto opened = WebcamMicrophone::open(world.microphones, *found, world.audioQueue,
                                             [weak](const SampleBuffer& buffer) {
                                                 if (auto self = weak.lock()) (void)self->handleAudio(buffer);
                                             });
        if (!opened) return report(opened.error().description);
        microphone = std::move(opened.value());
        microphone->start();
        microphoneRunning = true;
    }
}

void WebcamStudio::closeAudio() {
    if (koalaTap) koalaTap->stop();
    koalaTap.reset();
    tapRunning = false;
    std::shared_ptr<KoalaScreenCapture> ending;
    {
        std::lock_guard guard(sourceLock);
        ending = std::move(screen);
    }
    if (ending) ending->stop();
    if (microphone) microphone->stop();
    microphone.reset();
    microphoneRunning = false;
}

void WebcamStudio::restartMonitor() {
    std::shared_ptr<WebcamMonitor> fresh;
    const WebcamSettings settings = this->settings();
    // The tap plays the processed sound itself.
    if (isRunning && settings.listen.value_or(false) && !koalaTap)
        fresh = std::make_shared<WebcamMonitor>(world.audioOutputs, settings.listenDevice);
    std::shared_ptr<WebcamMonitor> previous;
    {
        std::lock_guard guard(monitorLock);
        previous = std::exchange(monitor, fresh);
    }
    if (previous) previous->close();
}

bool WebcamStudio::hasCamera() {
    std::lock_guard guard(sourceLock);
    return camera != nullptr;
}

bool WebcamStudio::hasScreen() {
    std::lock_guard guard(sourceLock);
    return screen != nullptr;
}

bool WebcamStudio::hasTap() {
    return tapRunning;
}

bool WebcamStudio::hasMicrophone() {
    return microphoneRunning;
}

bool WebcamStudio::hasMonitor() {
    std::lock_guard guard(monitorLock);
    return monitor != nullptr;
}

// ---- sound, on the active source's queue ----

SampleBuffer WebcamStudio::handleAudio(const SampleBuffer& buffer) {
    stutterLength.add(buffer);
    SampleBuffer processed = sound.process(buffer);
    level.add(processed);
    std::shared_ptr<WebcamWriter> recording;
    {
        std::lock_guard guard(writerLock);
        recording = writer;
    }
    // The writer keeps sound out until the first frame has started its timeline, and after finish.
    if (recording && recording->started() && !recording->finished()) (void)recording->appendAudio(processed);
    std::shared_ptr<WebcamMonitor> listening;
    {
        std::lock_guard guard(monitorLock);
        listening = monitor;
    }
    if (listening) listening->play(processed);
    return processed;
}

// ---- composition, on the compose queue ----

void WebcamStudio::tick() {
    if (!isRunning) return;
    const WebcamSettings settings = this->settings();
    const double now = world.clock.uptime();
    const KoalaPerformanceFeed::Snapshot feed = world.feed.snapshot();
    std::shared_ptr<WebcamCamera> cameraSource;
    std::shared_ptr<KoalaScreenCapture> screenSource;
    {
        std::lock_guard guard(sourceLock);
        cameraSource = camera;
        screenSource = screen;
    }
    const long long frames = cameraSource ? (long long)cameraSource->count() : 0;
    const bool stutterOn = WebcamEffectState::stutterFlag(feed);
    if (frames == lastFrames && stutterOn == lastStutter && feed.fx == lastFX &&
        now - lastCompose < idleSeconds)
        return;
    lastFrames = frames;
    lastStutter = stutterOn;
    lastFX = feed.fx;
    lastCompose = now;

    auto frame = compose(settings, feed, now, cameraSource ? cameraSource->latest() : nullptr,
                         screenSource ? screenSource->latest() : nullptr);
    if (!frame) return;
    ++composedFrames;
    const double time = world.clock.uptime();
    std::shared_ptr<WebcamWriter> recording;
    {
        std::lock_guard guard(writerLock);
        recording = writer;
    }
    if (recording) {
        // The movie converts the pixels later on its own thread: it holds its own reference, which also
        // keeps the pool from handing these pixels out again meanwhile.
        auto held = std::make_shared<const QImage>(*frame);
        MovieFrame movieFrame{held->width(), held->height(), ptrdiff_t(held->bytesPerLine()),
                              held->constBits(), held};
        (void)recording->appendVideo(movieFrame, time);
    }
    deliver({std::move(*frame), time});
}

namespace {

// The part `source` of the picture turned by `turn` quarters (1 clockwise, -1 the other way) and then
// mirrored when `mirror`, scaled to `size`: halved (2 × 2 means) while it is more than twice the size,
// then bilinear. The halving comes before the turn, which moves whole 2 × 2 blocks (the same pixels) but
// then moves a quarter of them; the mirror is done by the scaling itself. `reuse` is the previous result: its
// pixels are drawn over when it is the right size and nobody else holds it, which spares allocating (and the
// system clearing) megabytes per frame. `rowDone` is told each finished row (see FramePixels::scale).
QImage scaledPart(QImage picture, int turn, bool mirror, QRectF source, QSize size, QImage reuse,
                  const std::function<void(const QImage&, int)>& rowDone) {
    if (size.isEmpty() || source.isEmpty()) return {};
    while (source.width() > 2 * size.width() && source.height() > 2 * size.height() && picture.width() >= 2 &&
           picture.height() >= 2) {
        QImage half(picture.width() / 2, picture.height() / 2, QImage::Format_RGB32);
        FramePixels::halve(picture.format() == QImage::Format_RGB32
                               ? picture
                               : picture.convertToFormat(QImage::Format_RGB32),
                           half);
        picture = std::move(half);
        source = QRectF(source.x() / 2, source.y() / 2, source.width() / 2, source.height() / 2);
    }
    if (turn != 0) picture = picture.transformed(QTransform().rotate(turn > 0 ? 90 : -90));
    QImage out = reuse.size() == size && reuse.format() == QImage::Format_RGB32 && reuse.isDetached()
                     ? std::move(reuse)
                     : QImage(size, QImage::Format_RGB32);
    if (out.isNull()) return {};
    FramePixels::scale(picture, source, out, mirror, [&](int y) { rowDone(out, y); });
    return out;
}

} // namespace

std::optional<QImage> WebcamStudio::compose(const WebcamSettings& settings,
                                            const KoalaPerformanceFeed::Snapshot& feed, double now,
                                            const std::shared_ptr<const VideoFrame>& cameraFrame,
                                            const std::shared_ptr<const VideoFrame>& screenFrame) {
    const int width = settings.outputWidth(), height = settings.outputHeight();
    // Not cleared: black goes only where the first picture does not cover the frame (below).
    std::optional<QImage> frame = renderer.frame(width, height);
    if (!frame) return std::nullopt;
    // The pooled frame is written in place through a view of its pixels: writing to the shared image
    // itself would copy all 8 MB of it. Nobody else holds this frame until it is handed out below.
    QImage canvas(const_cast<uchar*>(frame->constBits()), width, height, frame->bytesPerLine(),
                  QImage::Format_RGB32);
    const WebcamLayout layout = settings.layout();
    constexpr uint32_t black = 0xFF000000;
    bool cleared = false; // whether the frame around the pictures is black yet

    // The scaled picture of a source onto the frame. Scaled pictures are kept and made again only when
    // their source frame or rectangle changes; a new one is copied onto the frame row by row as it is
    // made, while each row is still in the processor's cache.
    auto show = [&](Scaled& cache, const std::shared_ptr<const VideoFrame>& from, const QRect& into, int turn,
                    bool mirror, bool fill, bool frameIt) {
        auto clear = [&](const QRect& covered) {
            if (!cleared) FramePixels::fillAround(canvas, covered, black);
            cleared = true;
        };
        auto border = [&](const QRect& target) {
            clear(target);
            if (frameIt)
                FramePixels::fill(canvas, into.adjusted(-frameWidth, -frameWidth, frameWidth, frameWidth),
                                  KoalaLook::blue.rgb());
        };
        if (cache.from == from && cache.into == into && cache.turn == turn && cache.mirror == mirror &&
            !cache.picture.isNull()) {
            border(cache.target);
            FramePixels::paste(cache.picture, canvas, cache.target.topLeft());
            return;
        }
        QImage previous = std::move(cache.picture);
        cache = {};
        const QImage picture = wrap(*from);
        if (picture.isNull()) return;
        const QSize turned = turn != 0 ? picture.size().transposed() : picture.size();
        auto placed = place(QSizeF(turned), QRectF(into), fill);
        if (!placed) return;
        const QRect target = placed->target.toAlignedRect() & into;
        border(target);
        // A layout may put a rectangle partly outside the frame: only what falls inside is copied.
        const QRect shown = target & canvas.rect();
        QImage part = scaledPart(picture, turn, mirror, placed->source, target.size(), std::move(previous),
                                 [&](const QImage& rows, int y) {
                                     const int line = target.top() + y;
                                     if (line < shown.top() || line > shown.bottom()) return;
                                     std::memcpy(canvas.scanLine(line) + 4 * shown.left(),
                                                 rows.constScanLine(y) + 4 * (shown.left() - target.left()),
                                                 size_t(shown.width()) * 4);
                                 });
        if (part.isNull()) {
            FramePixels::fill(canvas, target, black); // no memory for the picture: nothing shown there
            return;
        }
        cache = {from, into, turn, mirror, std::move(part), target};
    };

    if (settings.tutorial && screenFrame) {
        show(screenScaled, screenFrame, pixels(layout.koala, width, height), 0, false, false, false);
    } else {
        screenScaled = {};
    }
    if (cameraFrame) {
        int turn = 0;
        if (settings.vertical) {
            const long long rotate = settings.rotate.value_or(1);
            turn = rotate == 0 ? 0 : rotate == 1 ? 1 : -1;
        }
        const QRect cameraRect = pixels(layout.camera, width, height);
        show(cameraScaled, cameraFrame, cameraRect, turn, settings.mirror, true,
             framed(cameraRect, width, height));
    } else {
        cameraScaled = {};
    }
    if (!cleared) FramePixels::fill(canvas, black);

    if (settings.effects) {
        const double bpm = painter->tempo();
        std::optional<double> measured;
        if (auto since = WebcamEffectState::measuringSince(feed))
            measured = stutterLength.period(*since, 60 / bpm);
        const WebcamEffectState state = WebcamEffectState::make(feed, bpm, now, measured);
        QImage out = fx.process(*frame, now, state, QSize(width, height));
        if (out.constBits() != frame->constBits() && out.size() == frame->size() &&
            out.format() == QImage::Format_RGB32) {
            // The effects made a new frame of their own pool (a loop picture, the cutter's black): the
            // card goes onto that one, which saves copying it back. The effects never read their
            // full-size results again.
            *frame = std::move(out);
            canvas = QImage(const_cast<uchar*>(frame->constBits()), width, height, frame->bytesPerLine(),
                            QImage::Format_RGB32);
        } else if (out.constBits() != frame->constBits()) {
            FramePixels::copy(out, canvas);
        }
    }

    if (settings.overlay) {
        if (auto card = painter->picture(feed, level.value(), now, settings.vertical, QSize(width, height),
                                         QPointF(layout.card.x, layout.card.y)))
            WebcamOverlayPainter::composite(canvas, *card);
    }
    return frame;
}

void WebcamStudio::deliver(Picture picture) {
    bool post = false;
    {
        std::lock_guard guard(pictureLock);
        post = !waiting.has_value();
        waiting = std::move(picture);
    }
    if (!post) return;
    std::weak_ptr<WebcamStudio> weak = weak_from_this();
    world.main->async([weak] {
        auto self = weak.lock();
        if (!self) return;
        std::optional<Picture> newest;
        {
            std::lock_guard guard(self->pictureLock);
            newest = std::exchange(self->waiting, std::nullopt);
        }
        if (newest && self->onPicture) self->onPicture(*newest);
    });
}

// ---- recording ----

Result<std::filesystem::path> WebcamStudio::startRecording() {
    const WebcamSettings settings = this->settings();
    const std::filesystem::path folder = settings.folderPath();
    if (auto made = disk.createDirectories(folder); !made) return made.error();
    const std::filesystem::path path = folder / fileName(world.clock.date(), settings.vertical);
    auto made = WebcamWriter::make(world.movies, path, settings.outputWidth(), settings.outputHeight());
    if (!made) return made.error();
    std::shared_ptr<WebcamWriter> previous;
    {
        std::lock_guard guard(writerLock);
        previous = std::exchange(writer, std::shared_ptr<WebcamWriter>(std::move(made.value())));
        lastURL = path;
    }
    // A recording still running is finished, not thrown away.
    if (previous) finishInBackground(std::move(previous));
    return path;
}

void WebcamStudio::stopRecording(std::function<void(std::optional<std::filesystem::path>)> done) {
    std::shared_ptr<WebcamWriter> ending;
    {
        std::lock_guard guard(writerLock);
        ending = std::move(writer);
    }
    auto main = world.main;
    if (!ending) {
        main->async([done] {
            if (done) done(std::nullopt);
        });
        return;
    }
    const std::filesystem::path path = ending->url();
    finishInBackground(std::move(ending), [main, done, path](bool written) {
        main->async([done, path, written] {
            if (done) done(written ? std::optional(path) : std::nullopt);
        });
    });
}

void WebcamStudio::finishInBackground(std::shared_ptr<WebcamWriter> ending, std::function<void(bool)> then) {
    {
        std::lock_guard guard(finishing->lock);
        ++finishing->count;
    }
    // The writer stays alive until its movie has finished, and through a finish that completes at once.
    const std::shared_ptr<WebcamWriter> writing = ending;
    writing->finish(
        [ending = std::move(ending), then = std::move(then), tracker = finishing](bool written) mutable {
            ending.reset();
            if (then) then(written);
            std::lock_guard guard(tracker->lock);
            --tracker->count;
            tracker->done.notify_all();
        });
}

bool WebcamStudio::waitForRecordings(double seconds) {
    std::unique_lock guard(finishing->lock);
    return finishing->done.wait_for(guard, std::chrono::duration<double>(std::max(0.0, seconds)),
                                    [this] { return finishing->count == 0; });
}

bool WebcamStudio::recording() const {
    std::lock_guard guard(writerLock);
    return writer != nullptr;
}

std::optional<std::filesystem::path> WebcamStudio::recordingURL() const {
    std::lock_guard guard(writerLock);
    return lastURL;
}

} // namespace tandem
