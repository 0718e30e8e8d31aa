#pragma once

#include "base/Error.h"
#include "base/Json.h"
#include "platform/Defaults.h"
#include "platform/Geometry.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace tandem {

// Where the camera, Koala's window and the pad card sit on the picture: fractions of the output frame
// (0...1), origin at the bottom left. Stored as {"camera": [[x, y], [w, h]], "koala": …, "card": [x, y]}.
struct WebcamLayout {
    Rect camera{0, 0, 1, 1};
    Rect koala{0, 0, 1, 1};
    Point card{0.025, 0.044};

    // The layout of a shape nobody has edited.
    static WebcamLayout standard(bool vertical, bool tutorial);

    Json::Value json() const;
    // Nothing unless every key is there with its shape and numbers.
    static std::optional<WebcamLayout> from(const Json::Value& value);

    bool operator==(const WebcamLayout&) const = default;
};

// The Webcam's settings, one JSON record under "Tandem.webcam" in Tandem's defaults. The JSON keys are
// the field names. A record that lacks a required key, or has one of another kind, is not read at all:
// the whole default record stands in. An optional key of another kind reads as absent, so one bad value
// cannot throw away the rest of what the musician set up.
struct WebcamSettings {
    static constexpr const char* key = "Tandem.webcam";
    static constexpr const char* koalaAudio = "koala";

    std::optional<std::string> camera; // unique id; none = the first camera
    std::string audio = koalaAudio;    // "koala", else a microphone's unique id
    bool vertical = false;
    bool tutorial = false;
    bool overlay = true;
    bool effects = true;
    bool mirror = true;
    std::optional<long long> rotate; // 0 none, 1 one way (also when absent), other values the other way
    std::optional<double> drive;     // dB
    std::optional<bool> mpcOut;
    std::optional<bool> limiter;
    std::optional<double> threshold; // dB
    std::optional<Point> stutterSpot;
    std::optional<bool> listen;
    std::optional<std::string> listenDevice;
    std::optional<std::string> folder;
    std::optional<std::map<std::string, WebcamLayout>> layouts;

    // 1920 × 1080, or 1080 × 1920 when vertical.
    int outputWidth() const { return vertical ? 1080 : 1920; }
    int outputHeight() const { return vertical ? 1920 : 1080; }

    // "wide" or "tall", then " tutorial" when tutorial is on.
    std::string shapeKey() const;
    static std::string shapeKey(bool vertical, bool tutorial);
    // The layout stored for the current shape, else that shape's standard one.
    WebcamLayout layout() const;

    // The recordings folder: "folder", else "Movies/Tandem" under the home folder.
    std::filesystem::path folderPath() const;

    Json::Value json() const;
    static WebcamSettings from(const Json::Value& value);

    // The stored record, or the default one when there is none or it cannot be read.
    static WebcamSettings load(Defaults& defaults);
    // Fails, writing nothing, for text that JSON cannot carry (a name that is not UTF-8).
    Result<void> save(Defaults& defaults) const;

    bool operator==(const WebcamSettings&) const = default;
};

} // namespace tandem
