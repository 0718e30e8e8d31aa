#pragma once

#include "tandem/webcam/studio/SimulatedStudioWorld.h"
#include "tandem/webcam/studio/WebcamStudio.h"

#include "platform/sim/SimDefaults.h"
#include "platform/sim/SimMovieFile.h"
#include "platform/sim/SimRig.h"
#include "support/KoalaFiles.h"
#include "tandem/audio/KoalaPerformanceFeed.h"

#include <gtest/gtest.h>

#include <QImage>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tandem::testing {

// A studio on the simulated Mac, in virtual time, with what it shows and says collected.
struct StudioBench {
    KoalaFiles files;
    SimRig rig{files.home.path() / "rig"};
    SimDefaults defaults;
    SimMovieFiles movies;
    KoalaPerformanceFeed feed{rig.time};
    bool processTap = true;
    std::shared_ptr<WebcamStudio> studio;
    std::vector<WebcamStudio::Picture> pictures;
    std::vector<std::optional<std::string>> problems;

    MidiClientRef client = 0;
    MidiEndpointRef source = 0;

    StudioBench() {
        files.writeSettings(R"({"midiInputChannel": 1, "midiNoteOffset": 48})");
        rig.midi.clientCreate("Tandem", {}, &client);
        rig.midi.sourceCreate(client, "Tandem", &source);
    }
    ~StudioBench() {
        if (studio) studio->stop();
        rig.time.advance(0.1);
        studio.reset();
        rig.time.advance(0.1);
    }

    void store(const WebcamSettings& settings) { ASSERT_TRUE(settings.save(defaults)); }

    void make() {
        WebcamStudio::World world = simulatedStudioWorld(rig, defaults, movies, feed);
        world.processTapAvailable = processTap;
        studio = WebcamStudio::make(world);
        studio->onPicture = [this](const WebcamStudio::Picture& picture) {
            // Only the last few are kept: each holds a pooled frame.
            if (pictures.size() >= 3) pictures.erase(pictures.begin());
            pictures.push_back(picture);
        };
        studio->onProblem = [this](std::optional<std::string> message) { problems.push_back(message); };
    }
    void start(const WebcamSettings& settings) {
        store(settings);
        make();
        studio->start();
        rig.time.advance(0.5);
    }

    void launchKoala() {
        rig.workspace.openApplication(rig.koala.location(), [](auto, auto) {});
        rig.time.advance(1.5);
        ASSERT_TRUE(rig.koala.running());
    }
    // A pad on Koala, as Tandem's MIDI plays it: after it Koala has sounded.
    void note(int pad, int velocity) {
        std::vector<uint8_t> bytes(64);
        MidiPacketListBuilder builder(bytes);
        const std::vector<uint8_t> message{uint8_t(velocity ? 0x90 : 0x80), uint8_t(48 + pad),
                                           uint8_t(velocity)};
        builder.add(rig.time.hostTime(), message);
        rig.midi.received(source, builder.list());
        rig.time.runUntilIdle();
    }
    void soundKoala() {
        launchKoala();
        note(0, 127);
        rig.time.advance(0.05);
        note(0, 0);
        rig.time.advance(0.3);
    }

    const QImage& frame() const { return pictures.back().frame; }
    std::optional<std::string> lastProblem() const {
        return problems.empty() ? std::nullopt : problems.back();
    }
    bool said(const std::string& text) const {
        for (const auto& problem : problems)
            if (problem == text) return true;
        return false;
    }
};

// Plain settings for pictures: no card, no effects, no mirror, so that probes see the sources alone.
inline WebcamSettings plainSettings() {
    WebcamSettings settings;
    settings.overlay = false;
    settings.effects = false;
    settings.mirror = false;
    return settings;
}

inline bool near(QRgb pixel, QRgb want, int tolerance = 24) {
    return std::abs(qRed(pixel) - qRed(want)) <= tolerance &&
           std::abs(qGreen(pixel) - qGreen(want)) <= tolerance &&
           std::abs(qBlue(pixel) - qBlue(want)) <= tolerance;
}

} // namespace tandem::testing
