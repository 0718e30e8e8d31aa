#include "tandem/shell/CommandLine.h"

#include "platform/sim/SimPointer.h"
#include "tandem/integration/TandemOverlay.h"
#include "tandem/mpc/KoalaControlRouter.h"
#include "tandem/mpc/KoalaMIDIBridge.h"
#include "tandem/profiles/KoalaMIDIProfile.h"
#include "tandem/profiles/KoalaPushProfile.h"

namespace tandem::CommandLine {

namespace {

// What the system's generic validation failure (a check that answered false) says.
constexpr const char* validationFailed = "The operation couldn’t be completed. (Cocoa error 1570.)";

int fail(std::FILE* err, const std::string& description) {
    std::fprintf(err, "Tandem: %s\n", description.c_str());
    std::fflush(err);
    return 1;
}

void pass(std::FILE* out, const char* line) {
    std::fprintf(out, "PASS: %s\n", line);
}

} // namespace

SelfChecks SelfChecks::standard() {
    return {
        [] { return KoalaMIDIProfile::offlineSelfCheck(); },
        [] { return KoalaPadMapper::offlineSelfCheck(); },
        [] { return KoalaControlRouter::offlineSelfCheck(); },
        [] { return KoalaMIDIBridge::packetSelfCheck(); },
        [] {
            // The overlay's events are only made, never posted: a recording pointer proves it.
            SimPointer pointer;
            return TandemOverlay::offlineSelfCheck(pointer) && pointer.postedEvents().empty();
        },
        [] { return KoalaPushProfile::offlineSelfCheck(); },
    };
}

int selfCheck(const SelfChecks& checks, std::FILE* out, std::FILE* err) {
    auto profile = checks.mpcProfile();
    if (!profile) return fail(err, profile.error().description);
    if (!*profile) return fail(err, validationFailed);
    pass(out, "64 routed pads match Koala's profile; the profile backs up, keeps other settings, refuses a "
              "running Koala "
              "and runs once");
    std::fflush(out);

    if (!checks.padMapper() || !checks.controlRouter() || !checks.midiPackets() || !checks.overlay()) {
        return fail(err, validationFailed);
    }
    pass(out, "64 pad assignments, duplicate note suppression, held release across a bank change");
    pass(out,
         "packed/split/running-status messages, long SysEx, separate Public/Private held selectors, Q-Link "
         "bank/contact capture");
    pass(out, "CoreMIDI variable-length 602-byte payload plus the following packet");
    pass(out, "measured overlay targets, move/down/up events and loop prevention; no events posted");
    std::fflush(out);

    auto push = checks.pushProfile();
    if (!push) return fail(err, push.error().description);
    if (!*push) return fail(err, validationFailed);
    pass(out, "Koala's map gets the MPC's keys back after MIDI Learn, keeps anything else learned, never a "
              "key twice; "
              "Koala's MIDI settings set (built-in device maps off); both refuse a running Koala, back up, "
              "and have "
              "nothing to do the second time");
    std::fflush(out);
    return 0;
}

std::optional<int> run(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err,
                       const SelfChecks& checks, const RenderJobs& renders) {
    if (arguments.size() < 2) return std::nullopt;
    if (arguments[1] == "--self-check") return selfCheck(checks, out, err);
    const std::pair<const char*, const RenderJobs::Job*> jobs[] = {
        {"--render-push", &renders.push},
        {"--render-icon", &renders.icons},
        {"--render-controls", &renders.controls},
        {"--render-installer-art", &renders.installerArt},
        {"--render-card", &renders.card},
    };
    for (const auto& [option, job] : jobs) {
        if (arguments[1] != option) continue;
        if (arguments.size() != 3 || !*job) return std::nullopt;
        auto done = (*job)(arguments[2]);
        if (!done) return fail(err, done.error().description);
        return 0;
    }
    return std::nullopt;
}

} // namespace tandem::CommandLine
