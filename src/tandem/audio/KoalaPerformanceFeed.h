#pragma once

#include "base/Clock.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>

namespace tandem {

// What the musician is doing to Koala right now, learnt from every MIDI message Tandem sends it on
// either controller path, plus a few flags other parts write directly. Thread-safe: every read and
// write happens under one lock, and readers take a copy.
class KoalaPerformanceFeed {
public:
    struct Hit {
        int pad = 0;       // 0-63 for a pad (a chop index in chopper mode); the note itself for a key
        bool chop = false; // struck in chopper mode
        bool keys = false; // from Koala's keyboard rather than the pads
        int note = 0;      // the MIDI note sent
        double time = 0;   // host-clock seconds

        bool operator==(const Hit&) const = default;
    };

    struct Snapshot {
        std::optional<Hit> lastHit;
        std::map<int, double> held;    // note → when it went down
        std::map<std::string, int> fx; // effect name → last value, while on
        bool chopperMode = false;
        bool manualStutter = false;
        bool touchStutter = false;
        std::optional<double> stutterSince;
        std::optional<double> cutterSince;
        std::optional<std::string> page; // "sample", "sequence" or "perform"

        bool operator==(const Snapshot&) const = default;
    };

    // The process's feed, on the machine's host clock.
    static KoalaPerformanceFeed& shared();

    // A feed of its own on the given clock (tests run it in virtual time).
    explicit KoalaPerformanceFeed(Clock& clock);
    KoalaPerformanceFeed(const KoalaPerformanceFeed&) = delete;
    KoalaPerformanceFeed& operator=(const KoalaPerformanceFeed&) = delete;

    // Learns from the messages Tandem just sent to Koala; several may come at once.
    void observe(std::span<const uint8_t> bytes);
    // Rebuilds which MIDI keys switch which effect from Koala's canonical map.
    void reloadKeys();

    Snapshot snapshot() const;

    // Direct writers.
    void setChopperMode(bool on);
    void setPage(std::optional<std::string> page);
    void setManualStutter(bool on);
    void setTouchStutter(bool on);

    // The effects whose control is a knob centred at 64.
    static bool isCentred(const std::string& name);
    // kind (0xB0 or 0x90) << 16 | channel index << 8 | number
    static uint32_t keyCode(uint8_t kind, uint8_t channelIndex, uint8_t number);

private:
    double now() const;
    void settle(); // with the lock held

    Clock& clock;
    mutable std::mutex lock;
    Snapshot state;
    std::unordered_map<uint32_t, std::string> fxKeys;
};

} // namespace tandem
