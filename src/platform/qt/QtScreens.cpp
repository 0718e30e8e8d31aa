#include "platform/qt/QtScreens.h"

#include <QGuiApplication>
#include <QScreen>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>

namespace tandem {

namespace fs = std::filesystem;

namespace {

uint64_t fnv1a64(const std::string& bytes, uint64_t basis) {
    uint64_t hash = basis;
    for (unsigned char byte : bytes) {
        hash ^= byte;
        hash *= 0x100000001B3ull;
    }
    return hash;
}

Rect rectOf(const QRect& rect) {
    return {double(rect.x()), double(rect.y()), double(rect.width()), double(rect.height())};
}

QGuiApplication* application() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance());
}

// One observation: its Qt connections, made again for each screen added, and whether a call is
// already waiting on the queue. Shared with the slots, which may run on Qt's thread at any time.
struct Changes : std::enable_shared_from_this<Changes> {
    std::shared_ptr<Queue> queue;
    std::function<void()> handler;
    std::recursive_mutex running; // held while the handler runs, and by the token that ends it
    std::mutex lock;
    bool live = true;
    bool pending = false;
    std::vector<QMetaObject::Connection> connections;

    void changed() {
        {
            std::lock_guard guard(lock);
            if (!live || pending) return;
            pending = true;
        }
        queue->async([self = shared_from_this()] {
            {
                std::lock_guard guard(self->lock);
                self->pending = false;
            }
            std::lock_guard guard(self->running);
            bool live;
            {
                std::lock_guard inner(self->lock);
                live = self->live;
            }
            if (live) self->handler();
        });
    }

    void watch(QScreen* screen) {
        std::weak_ptr<Changes> weak = weak_from_this();
        auto notify = [weak] {
            if (auto self = weak.lock()) self->changed();
        };
        std::lock_guard guard(lock);
        if (!live) return;
        connections.push_back(QObject::connect(screen, &QScreen::geometryChanged, notify));
        connections.push_back(QObject::connect(screen, &QScreen::availableGeometryChanged, notify));
    }
};

class ChangesToken final : public Observation {
public:
    explicit ChangesToken(std::shared_ptr<Changes> changes)
        : changes(std::move(changes)) {}
    ~ChangesToken() override {
        std::vector<QMetaObject::Connection> connections;
        {
            std::lock_guard guard(changes->lock);
            changes->live = false;
            connections.swap(changes->connections);
        }
        for (auto& connection : connections)
            QObject::disconnect(connection);
        std::lock_guard wait(changes->running); // a handler running now finishes first
    }

private:
    std::shared_ptr<Changes> changes;
};

} // namespace

QtScreens::QtScreens(fs::path drm)
    : drm(std::move(drm)) {}

uint32_t QtScreens::numberFor(const std::string& outputName) {
    uint32_t hash = 0x811C9DC5u;
    for (unsigned char byte : outputName) {
        hash ^= byte;
        hash *= 0x01000193u;
    }
    return hash;
}

std::optional<std::string> QtScreens::uuidFor(const std::string& edid) {
    if (edid.size() < 128) return std::nullopt;
    uint64_t high = fnv1a64(edid, 0xCBF29CE484222325ull);
    uint64_t low = fnv1a64(edid, 0x84222325CBF29CE4ull);
    unsigned char bytes[16];
    for (int i = 0; i < 8; ++i) {
        bytes[i] = (unsigned char)(high >> (56 - 8 * i));
        bytes[8 + i] = (unsigned char)(low >> (56 - 8 * i));
    }
    bytes[6] = (unsigned char)((bytes[6] & 0x0F) | 0x80); // version 8: made here
    bytes[8] = (unsigned char)((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    char text[37];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                  bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return std::string(text);
}

Rect QtScreens::global(const Rect& rect, const Rect& primary) {
    return {rect.x - primary.x, primary.maxY() - rect.maxY(), rect.width, rect.height};
}

std::optional<fs::path> QtScreens::edidFile(const fs::path& drm, const std::string& outputName) {
    if (outputName.empty()) return std::nullopt;
    // DRM names a connector by its type and number ("HDMI-A-1"); X's drivers may leave the "-A" out.
    auto withoutType = [](std::string name) {
        for (const char* letter : {"-A-", "-B-"}) {
            if (auto at = name.find(letter); at != std::string::npos) name.erase(at, 2);
        }
        return name;
    };
    std::optional<fs::path> loose;
    std::error_code error;
    for (fs::directory_iterator it(drm, error), end; !error && it != end; it.increment(error)) {
        const std::string entry = it->path().filename().string();
        auto dash = entry.find('-');
        if (entry.rfind("card", 0) != 0 || dash == std::string::npos) continue;
        const std::string connector = entry.substr(dash + 1);
        std::error_code missing;
        if (!fs::is_regular_file(it->path() / "edid", missing)) continue;
        if (connector == outputName) return it->path() / "edid";
        if (!loose && withoutType(connector) == outputName) loose = it->path() / "edid";
    }
    return loose;
}

std::vector<Screen> QtScreens::screens() {
    std::vector<Screen> result;
    if (!application()) return result;
    QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary) return result;
    QList<QScreen*> list = QGuiApplication::screens();
    list.removeAll(primary);
    list.prepend(primary);
    const Rect primaryRect = rectOf(primary->geometry());
    for (QScreen* screen : list) {
        Screen entry;
        entry.frame = global(rectOf(screen->geometry()), primaryRect);
        entry.visibleFrame = global(rectOf(screen->availableGeometry()), primaryRect);
        entry.name = screen->name().toStdString();
        entry.number = numberFor(entry.name);
        if (auto file = edidFile(drm, entry.name)) {
            std::ifstream in(*file, std::ios::binary);
            std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            entry.uuid = uuidFor(bytes);
        }
        result.push_back(std::move(entry));
    }
    return result;
}

ObservationToken QtScreens::observeChanges(std::shared_ptr<Queue> queue, std::function<void()> handler) {
    QGuiApplication* app = application();
    if (!app) return std::make_unique<Observation>();
    auto changes = std::make_shared<Changes>();
    changes->queue = std::move(queue);
    changes->handler = std::move(handler);
    std::weak_ptr<Changes> weak = changes;
    auto notify = [weak] {
        if (auto self = weak.lock()) self->changed();
    };
    {
        std::lock_guard guard(changes->lock);
        changes->connections.push_back(
            QObject::connect(app, &QGuiApplication::screenAdded, [weak](QScreen* screen) {
                if (auto self = weak.lock()) {
                    self->watch(screen);
                    self->changed();
                }
            }));
        changes->connections.push_back(QObject::connect(app, &QGuiApplication::screenRemoved, notify));
        changes->connections.push_back(QObject::connect(app, &QGuiApplication::primaryScreenChanged, notify));
    }
    for (QScreen* screen : QGuiApplication::screens())
        changes->watch(screen);
    return std::make_unique<ChangesToken>(std::move(changes));
}

} // namespace tandem
