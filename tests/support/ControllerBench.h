#pragma once

// A controller on a virtual clock with a saved song, recording what it sends.
#include "tandem/push/KoalaController.h"

#include "base/SimTime.h"
#include "platform/sim/SimDefaults.h"
#include "support/ScratchHome.h"

namespace tandem::testing {

using Bytes = std::vector<uint8_t>;
using Page = KoalaController::Page;
using Mode = KoalaController::Keyboard::Mode;

constexpr int64_t second = 1'000'000'000;

// A saved song: pads A1-A8 loaded, A10 a chopper with 10 chops, 8 sequences of one bar, 120 bpm.
inline KoalaSession song() {
    KoalaSession saved;
    for (int k = 0; k < 8; ++k) {
        KoalaSession::Pad pad;
        pad.loaded = true;
        pad.label = "KICK " + std::to_string(k + 1);
        pad.sampleID = 100 + k;
        pad.frames = 44100;
        pad.vol = 0.5;
        saved.pads[k] = pad;
    }
    KoalaSession::Pad chopper;
    chopper.loaded = true;
    chopper.chopper = true;
    chopper.label = "BREAK";
    chopper.sampleID = 200;
    for (int i = 0; i < 10; ++i)
        chopper.slices.push_back(i * 1000.0);
    saved.pads[9] = chopper;
    saved.bpm = 120;
    for (int n = 0; n < 8; ++n) {
        saved.bars.push_back(1);
        saved.notes.emplace_back();
    }
    saved.notes[0].push_back({0, 0.0, 0.25, 0, 100, std::nullopt});
    saved.selectedPad = 0;
    return saved;
}

struct Bench {
    ScratchHome home;
    SimTime time;
    SimDefaults defaults;
    std::vector<Bytes> sent, linked;
    KoalaController c{
        {time, defaults, "KoalaTrimStartKeepsEnd.2.0.11"},
        [this](std::span<const uint8_t> bytes) { sent.emplace_back(bytes.begin(), bytes.end()); }};

    explicit Bench(KoalaSession saved = song()) {
        c.sendLink = [this](std::span<const uint8_t> bytes) {
            linked.emplace_back(bytes.begin(), bytes.end());
        };
        c.padsSelectInKoala = true;
        time.advance(1); // the song was saved a second ago, on the same clock
        read(saved, 0);
        sent.clear();
    }
    // The virtual clock's date of a moment given in its seconds.
    static int64_t dateAt(double at) { return int64_t(at * 1e9) + 1'767'225'600LL * second; }
    // A read of the song with every file saved at `at` (seconds of the virtual clock), begun at
    // command revision `revision` (now, by default).
    void read(const KoalaSession& saved, double at, std::optional<uint64_t> revision = std::nullopt,
              bool acceptSelection = true) {
        std::map<std::string, int64_t> dates;
        for (const std::string& file : KoalaSession::files())
            dates[file] = dateAt(at);
        readDated(saved, dates, revision, acceptSelection);
    }
    void readDated(const KoalaSession& saved, const std::map<std::string, int64_t>& dates,
                   std::optional<uint64_t> revision = std::nullopt, bool acceptSelection = true,
                   std::optional<uint64_t> trimRevision = std::nullopt) {
        std::optional<int64_t> sampler;
        if (auto found = dates.find("sampler/sampler.json"); found != dates.end()) sampler = found->second;
        c.setSession(saved, acceptSelection, sampler, trimRevision.value_or(c.trimRevision), dates,
                     revision.value_or(c.commandRevision));
    }
    void button(int cc, bool shift = false) {
        if (shift) c.handle(Push2Event::button(49, true));
        c.handle(Push2Event::button(cc, true));
        c.handle(Push2Event::button(cc, false));
        if (shift) c.handle(Push2Event::button(49, false));
    }
    void run(double seconds) {
        for (double t = 0; t < seconds - 1e-9; t += 0.005) {
            time.advance(0.005);
            c.tick();
        }
    }
    static Bytes keyPress(const std::string& address, int velocity = 1) {
        return KoalaController::table().at(address).press(true, velocity)->toVector();
    }
    static Bytes keyRelease(const std::string& address) {
        return KoalaController::table().at(address).press(false, 127)->toVector();
    }
    std::vector<Bytes> tapOf(const std::string& address) { return {keyPress(address), keyRelease(address)}; }
};

} // namespace tandem::testing
