#include "tandem/app/SimulatedMac.h"

#include "mpc_controller_setup/controller_setup.h"

namespace tandem {

SimulatedMac::SimulatedMac(const std::filesystem::path& scratch, std::FILE* transcript, PushPreview* pushPreview,
                           Desktop* shell)
    : rig(scratch) {
    // Without a transcript stream of the caller's, the MPC set-up writes into a file of its own.
    if (!transcript) transcript = quiet = std::tmpfile();
    controller_use(&rig.midi, &rig.time, transcript, transcript);
    TandemApp::Services services{shell ? *shell : desktop,
                                 rig.workspace,
                                 rig.screens,
                                 rig.windows,
                                 rig.accessibility,
                                 rig.pointer,
                                 rig.panels,
                                 rig.processes,
                                 defaults,
                                 rig.midi,
                                 rig.usb,
                                 rig.folders,
                                 rig.time,
                                 feed,
                                 rig.main,
                                 [this](const std::string& label) { return rig.makeQueue(label); },
                                 rig.resources(),
                                 pushPreview};
    services.controllerTranscript = transcript;
    services.controllerComplaints = transcript;
    app = TandemApp::create(services);
    // What the application's event loop does when asked to end: its termination handler, once.
    desktop.onTerminate = [this] { rig.main->async([this] { applicationEnded(); }); };
}

void SimulatedMac::applicationEnded() {
    if (hasEnded) return;
    app->applicationWillTerminate();
    hasEnded = true;
    endTime = rig.time.now();
}

SimulatedMac::~SimulatedMac() {
    applicationEnded();
    app.reset();
    rig.time.advance(0.1); // whatever the ending left on the queues
    controller_use(nullptr, nullptr);
    if (quiet) std::fclose(quiet);
}

void SimulatedMac::launch() {
    app->applicationDidFinishLaunching();
    rig.time.advance(0.01);
}

} // namespace tandem
