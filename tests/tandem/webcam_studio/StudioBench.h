#pragma once

#include "tandem/webcam/studio/SimulatedStudioWorld.h"
#include "tandem/webcam/studio/WebcamStudio.h"

#include "platform/sim/SimDefaults.h"
#include "platform/sim/SimMovieFile.h"
#include "platform/sim/SimRig.h"
#include "support/KoalaRig.h"
#include "tandem/audio/KoalaPerformanceFeed.h"

#include <gtest/gtest.h>

#include <QImage>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tandem::testing {

// A studio on the simulated Mac, in virtual time, with what it shows and says collected.
struct StudioBench : KoalaRig {
    SimDefaults defaults;
    SimMovieFiles movies;
    KoalaPerformanceFeed feed{rig.time};
    bool processTap = true;
    std::shared_ptr<WebcamStudio> studio;
    std::vector<WebcamStudio::Picture> pictures;
    std::vector<std::optional<std::string>> problems;

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
