#include "tandem/webcam/WebcamSettings.h"

#include "base/Paths.h"

namespace tandem {

namespace {

std::optional<double> number(const Json::Value* value) {
    if (!value || !value->is_number()) return std::nullopt;
    return value->get<double>();
}

// A point as [x, y].
Json::Value pointJson(Point point) {
    return Json::Value::array({point.x, point.y});
}
std::optional<Point> pointFrom(const Json::Value* value) {
    if (!value || !value->is_array() || value->size() != 2) return std::nullopt;
    auto x = number(&(*value)[0]);
    auto y = number(&(*value)[1]);
    if (!x || !y) return std::nullopt;
    return Point{*x, *y};
}

// A rectangle as [[x, y], [width, height]].
Json::Value rectJson(const Rect& rect) {
    return Json::Value::array({pointJson(rect.origin()), Json::Value::array({rect.width, rect.height})});
}
std::optional<Rect> rectFrom(const Json::Value* value) {
    if (!value || !value->is_array() || value->size() != 2) return std::nullopt;
    auto origin = pointFrom(&(*value)[0]);
    auto size = pointFrom(&(*value)[1]);
    if (!origin || !size) return std::nullopt;
    return Rect{origin->x, origin->y, size->x, size->y};
}

std::optional<double> optionalNumber(const Json::Value& object, std::string_view key) {
    return number(Json::member(object, key));
}

} // namespace

WebcamLayout WebcamLayout::standard(bool vertical, bool tutorial) {
    const Point card = vertical ? Point{0.025, 0.014} : Point{0.025, 0.044};
    if (!tutorial) return WebcamLayout{{0, 0, 1, 1}, {0, 0, 1, 1}, card};
    if (vertical) return WebcamLayout{{0, 0, 1, 0.42}, {0, 0.42, 1, 0.58}, card};
    return WebcamLayout{{0.705, 0.686, 0.27, 0.27}, {0, 0, 1, 1}, card};
}

Json::Value WebcamLayout::json() const {
    return Json::Value{{"camera", rectJson(camera)}, {"koala", rectJson(koala)}, {"card", pointJson(card)}};
}

std::optional<WebcamLayout> WebcamLayout::from(const Json::Value& value) {
    if (!value.is_object()) return std::nullopt;
    auto cameraRect = rectFrom(Json::member(value, "camera"));
    auto koalaRect = rectFrom(Json::member(value, "koala"));
    auto cardPoint = pointFrom(Json::member(value, "card"));
    if (!cameraRect || !koalaRect || !cardPoint) return std::nullopt;
    return WebcamLayout{*cameraRect, *koalaRect, *cardPoint};
}

std::string WebcamSettings::shapeKey(bool vertical, bool tutorial) {
    return std::string(vertical ? "tall" : "wide") + (tutorial ? " tutorial" : "");
}

std::string WebcamSettings::shapeKey() const {
    return shapeKey(vertical, tutorial);
}

WebcamLayout WebcamSettings::layout() const {
    if (layouts) {
        auto stored = layouts->find(shapeKey());
        if (stored != layouts->end()) return stored->second;
    }
    return WebcamLayout::standard(vertical, tutorial);
}

std::filesystem::path WebcamSettings::folderPath() const {
    if (folder && !folder->empty()) return std::filesystem::path(*folder);
    return Paths::home() / "Movies" / "Tandem";
}

Json::Value WebcamSettings::json() const {
    Json::Value value = Json::Value::object();
    if (camera) value["camera"] = *camera;
    value["audio"] = audio;
    value["vertical"] = vertical;
    value["tutorial"] = tutorial;
    value["overlay"] = overlay;
    value["effects"] = effects;
    value["mirror"] = mirror;
    if (rotate) value["rotate"] = *rotate;
    if (drive) value["drive"] = *drive;
    if (mpcOut) value["mpcOut"] = *mpcOut;
    if (limiter) value["limiter"] = *limiter;
    if (threshold) value["threshold"] = *threshold;
    if (stutterSpot) value["stutterSpot"] = pointJson(*stutterSpot);
    if (listen) value["listen"] = *listen;
    if (listenDevice) value["listenDevice"] = *listenDevice;
    if (folder) value["folder"] = *folder;
    if (layouts) {
        Json::Value stored = Json::Value::object();
        for (const auto& [shape, layout] : *layouts)
            stored[shape] = layout.json();
        value["layouts"] = std::move(stored);
    }
    return value;
}

WebcamSettings WebcamSettings::from(const Json::Value& value) {
    WebcamSettings settings;
    if (!value.is_object()) return settings;
    auto audio = Json::string(value, "audio");
    auto vertical = Json::boolean(value, "vertical");
    auto tutorial = Json::boolean(value, "tutorial");
    auto overlay = Json::boolean(value, "overlay");
    auto effects = Json::boolean(value, "effects");
    auto mirror = Json::boolean(value, "mirror");
    if (!audio || !vertical || !tutorial || !overlay || !effects || !mirror) return settings;

    settings.audio = *audio;
    settings.vertical = *vertical;
    settings.tutorial = *tutorial;
    settings.overlay = *overlay;
    settings.effects = *effects;
    settings.mirror = *mirror;
    settings.camera = Json::string(value, "camera");
    settings.rotate = Json::wholeNumber(Json::member(value, "rotate"));
    settings.drive = optionalNumber(value, "drive");
    settings.mpcOut = Json::boolean(value, "mpcOut");
    settings.limiter = Json::boolean(value, "limiter");
    settings.threshold = optionalNumber(value, "threshold");
    settings.stutterSpot = pointFrom(Json::member(value, "stutterSpot"));
    settings.listen = Json::boolean(value, "listen");
    settings.listenDevice = Json::string(value, "listenDevice");
    settings.folder = Json::string(value, "folder");
    if (const Json::Value* stored = Json::member(value, "layouts"); stored && stored->is_object()) {
        // One unreadable layout falls back to its shape's standard one; the others stay.
        std::map<std::string, WebcamLayout> layouts;
        for (const auto& [shape, entry] : stored->items())
            if (auto layout = WebcamLayout::from(entry)) layouts.emplace(shape, *layout);
        settings.layouts = std::move(layouts);
    }
    return settings;
}

WebcamSettings WebcamSettings::load(Defaults& defaults) {
    auto text = defaults.string(Defaults::tandemSuite, key);
    if (!text) return {};
    auto parsed = Json::parse(*text);
    if (!parsed) return {};
    return from(*parsed);
}

Result<void> WebcamSettings::save(Defaults& defaults) const {
    auto text = Json::serialize(json());
    if (!text) return text.error();
    defaults.setString(Defaults::tandemSuite, key, *text);
    return {};
}

} // namespace tandem
