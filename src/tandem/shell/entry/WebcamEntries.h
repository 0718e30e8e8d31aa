#pragma once

#include "tandem/app/SimulatedMac.h"
#include "tandem/app/TandemApp.h"
#include "tandem/shell/webcam/QtWebcamWindow.h"
#include "tandem/shell/webcam/StudioWebcamControl.h"
#include "tandem/webcam/studio/SimulatedStudioWorld.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <utility>

namespace tandem {

// The application's Webcam entries: the Webcam window over its studio, both made at the first use and
// kept for the rest of the run. Closing the window stops the studio; opening it again starts it again,
// with the same settings and LEARNed STUTTER. Main queue only; needs a QApplication by the first use.
class WebcamEntries {
public:
    // Makes the window's studio; called once, at the first use.
    using MakeStudio = std::function<std::shared_ptr<StudioWebcamControl>()>;
    // Shows a saved recording; the window's own (the file viewer) when none.
    using Reveal = std::function<void(const std::filesystem::path&)>;

    WebcamEntries(MakeStudio make, std::shared_ptr<Queue> main, Clock& clock, Reveal reveal = {})
        : make(std::move(make))
        , main(std::move(main))
        , clock(clock)
        , reveal(std::move(reveal)) {}

    ~WebcamEntries() {
        if (auto app = owner.lock()) app->setWebcamEntries({}, {});
        close();
    }
    WebcamEntries(const WebcamEntries&) = delete;
    WebcamEntries& operator=(const WebcamEntries&) = delete;

    // Points the application's "Webcam…", "Webcam Preview" and WEBCAM SETUP here; this object must
    // outlive them or be destroyed first (it takes them back).
    void install(TandemApp& app) {
        owner = app.weak_from_this();
        app.setWebcamEntries([this] { open(); }, [this] { openPreview(); });
    }

    // "Webcam…": the main window.
    void open() { made().open(); }
    // "Webcam Preview": only the small floating preview.
    void openPreview() { made().openFloating(); }

    // Closes every window and stops the studio (finishing a recording, so its file is kept).
    void close() {
        window.reset();
        if (control) control->stop();
    }
    // Before the program ends: waits up to `seconds` for recordings still being written out.
    bool waitForRecordings(double seconds) { return !control || control->get()->waitForRecordings(seconds); }

    QtWebcamWindow* webcam() const { return window.get(); }
    const std::shared_ptr<StudioWebcamControl>& studio() const { return control; }

    // The studio of the simulated Mac: its rig's devices, defaults and performance feed, the rig's queues
    // on its virtual timeline, and `movies` for the files.
    static std::shared_ptr<StudioWebcamControl> simulated(SimulatedMac& mac, MovieFiles& movies) {
        SimRig& rig = mac.rig;
        auto studio = WebcamStudio::make(simulatedStudioWorld(rig, mac.defaults, movies, mac.feed));
        return std::make_shared<StudioWebcamControl>(studio, rig.cameras, rig.microphones, rig.audioOutputs,
                                                     mac.feed);
    }

private:
    QtWebcamWindow& made() {
        if (!control) control = make();
        if (!window)
            window = std::make_unique<QtWebcamWindow>(QtWebcamWindow::Services{control, main, clock, reveal});
        return *window;
    }

    MakeStudio make;
    std::shared_ptr<Queue> main;
    Clock& clock;
    Reveal reveal;
    std::weak_ptr<TandemApp> owner;
    std::shared_ptr<StudioWebcamControl> control;
    std::unique_ptr<QtWebcamWindow> window;
};

} // namespace tandem
