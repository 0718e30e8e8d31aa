// The Webcam's stored record: a save and a load, a missing or mistyped required key gives the whole
// default, a mistyped optional key reads as absent, and the four shapes each find their own layout.
#include "tandem/webcam/WebcamSettings.h"

#include "platform/sim/SimDefaults.h"
#include "support/ScratchHome.h"

#include <gtest/gtest.h>

namespace tandem {
namespace {

WebcamSettings everyKeySet() {
    WebcamSettings settings;
    settings.camera = "0x1430000046d0825";
    settings.audio = "BuiltInMicrophoneDevice";
    settings.vertical = true;
    settings.tutorial = true;
    settings.overlay = false;
    settings.effects = false;
    settings.mirror = false;
    settings.rotate = 2;
    settings.drive = 3.5;
    settings.mpcOut = false;
    settings.limiter = false;
    settings.threshold = -7.5;
    settings.stutterSpot = Point{812.25, 433.5};
    settings.listen = true;
    settings.listenDevice = "AppleUSBAudioEngine:Focusrite";
    settings.folder = "/Volumes/Work/Takes";
    settings.layouts = std::map<std::string, WebcamLayout>{
        {"tall tutorial", WebcamLayout{{0.1, 0.2, 0.3, 0.4}, {0.05, 0.5, 0.9, 0.45}, {0.3, 0.01}}},
        {"wide", WebcamLayout{{0, 0, 1, 1}, {0, 0, 1, 1}, {0.6, 0.1}}},
    };
    return settings;
}

void store(SimDefaults& defaults, const std::string& text) {
    defaults.setString(Defaults::tandemSuite, WebcamSettings::key, text);
}

TEST(WebcamSettings, EveryKeyRoundTripsThroughTheDefaults) {
    SimDefaults defaults;
    const WebcamSettings settings = everyKeySet();
    ASSERT_TRUE(settings.save(defaults).ok());
    EXPECT_EQ(WebcamSettings::load(defaults), settings);

    // Stored under Tandem's own suite.
    auto text = defaults.string("Tandem", "Tandem.webcam");
    ASSERT_TRUE(text);
    auto stored = Json::parse(*text);
    ASSERT_TRUE(stored);
    EXPECT_EQ((*stored)["stutterSpot"], Json::parse("[812.25, 433.5]").value());

    // Absent optional keys stay absent rather than being written as defaults.
    SimDefaults fresh;
    ASSERT_TRUE(WebcamSettings{}.save(fresh).ok());
    EXPECT_EQ(Json::parse(*fresh.string("Tandem", "Tandem.webcam")).value(),
              Json::parse(R"({"audio": "koala", "vertical": false, "tutorial": false, "overlay": true,
                              "effects": true, "mirror": true})")
                  .value());
    EXPECT_EQ(WebcamSettings::load(fresh), WebcamSettings{});
}

TEST(WebcamSettings, AMissingOrMistypedRequiredKeyGivesTheWholeDefault) {
    const WebcamSettings standard;

    SimDefaults defaults;
    EXPECT_EQ(WebcamSettings::load(defaults), standard); // nothing stored

    // Everything else set, but no "audio": nothing of it is used.
    Json::Value record = everyKeySet().json();
    record.erase("audio");
    store(defaults, record.dump());
    EXPECT_EQ(WebcamSettings::load(defaults), standard);

    for (const char* required : {"audio", "vertical", "tutorial", "overlay", "effects", "mirror"}) {
        Json::Value mistyped = everyKeySet().json();
        mistyped[required] = required == std::string("audio") ? Json::Value(7) : Json::Value("yes");
        store(defaults, mistyped.dump());
        EXPECT_EQ(WebcamSettings::load(defaults), standard) << required;
    }

    for (const char* text : {"not json", "[1, 2]", "null"}) {
        store(defaults, text);
        EXPECT_EQ(WebcamSettings::load(defaults), standard) << text;
    }
}

TEST(WebcamSettings, AMistypedOptionalKeyReadsAsAbsent) {
    SimDefaults defaults;
    Json::Value record = everyKeySet().json();
    record["camera"] = 12;
    record["rotate"] = 1.5;
    record["drive"] = "loud";
    record["stutterSpot"] = Json::Value::array({1});
    record["layouts"]["wide"] =
        Json::parse(R"({"camera": [[0, 0], [1]], "koala": [[0, 0], [1, 1]], "card": [0, 0]})").value();
    store(defaults, record.dump());

    WebcamSettings expected = everyKeySet();
    expected.camera.reset();
    expected.rotate.reset();
    expected.drive.reset();
    expected.stutterSpot.reset();
    expected.layouts->erase("wide"); // the other shape's layout stays
    EXPECT_EQ(WebcamSettings::load(defaults), expected);

    // Layouts that are not a map at all read as none; a whole-number real is still a rotation.
    record = everyKeySet().json();
    record["layouts"] = Json::Value::array();
    record["rotate"] = 0.0;
    store(defaults, record.dump());
    const WebcamSettings loaded = WebcamSettings::load(defaults);
    EXPECT_EQ(loaded.layouts, std::nullopt);
    EXPECT_EQ(loaded.rotate, 0);
    EXPECT_EQ(loaded.audio, "BuiltInMicrophoneDevice");
}

TEST(WebcamSettings, EachOfTheFourShapesHasItsKeyAndLayout) {
    WebcamSettings settings;
    const std::vector<std::tuple<bool, bool, std::string, WebcamLayout>> shapes = {
        {false, false, "wide", {{0, 0, 1, 1}, {0, 0, 1, 1}, {0.025, 0.044}}},
        {true, false, "tall", {{0, 0, 1, 1}, {0, 0, 1, 1}, {0.025, 0.014}}},
        {false, true, "wide tutorial", {{0.705, 0.686, 0.27, 0.27}, {0, 0, 1, 1}, {0.025, 0.044}}},
        {true, true, "tall tutorial", {{0, 0, 1, 0.42}, {0, 0.42, 1, 0.58}, {0.025, 0.014}}},
    };
    // A layout stored under "tall tutorial" is used for that shape only.
    const WebcamLayout edited{{0.1, 0.1, 0.5, 0.3}, {0, 0.5, 1, 0.5}, {0.4, 0.02}};
    settings.layouts = std::map<std::string, WebcamLayout>{{"tall tutorial", edited}};
    for (const auto& [vertical, tutorial, key, standard] : shapes) {
        settings.vertical = vertical;
        settings.tutorial = tutorial;
        EXPECT_EQ(settings.shapeKey(), key);
        EXPECT_EQ(settings.layout(), key == "tall tutorial" ? edited : standard) << key;
        EXPECT_EQ(settings.outputWidth(), vertical ? 1080 : 1920);
    }
}

TEST(WebcamSettings, RecordingsGoToMoviesTandemUnlessAFolderIsChosen) {
    testing::ScratchHome home;
    WebcamSettings settings;
    EXPECT_EQ(settings.folderPath(), home.path() / "Movies" / "Tandem");
    settings.folder = "/Volumes/Work/Takes";
    EXPECT_EQ(settings.folderPath(), std::filesystem::path("/Volumes/Work/Takes"));
}

TEST(WebcamSettings, ARecordJsonCannotCarryIsRefusedAndTheStoredOneKept) {
    SimDefaults defaults;
    ASSERT_TRUE(everyKeySet().save(defaults).ok());
    WebcamSettings unsavable = everyKeySet();
    unsavable.folder = std::string("/home/m\xe9lanie/Takes"); // Latin-1, as an old disk may name it
    EXPECT_FALSE(unsavable.save(defaults).ok());
    EXPECT_EQ(WebcamSettings::load(defaults), everyKeySet());
}

} // namespace
} // namespace tandem
