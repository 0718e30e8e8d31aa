// What the controller shows of a knob: where a saved value puts it, and how its value reads.
#include "tandem/push/KoalaController.h"

#include "base/Text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

namespace tandem {

namespace {

using Kind = KoalaController::Knob::Kind;
using Position = std::optional<double>;

std::string format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

double level(double value) {
    return value * 127.0;
}
double bipolar(double value, double range) {
    return 63.5 + value / range * 63.5;
}
double hertz(double frequency) {
    return frequency > 0 ? 127.0 * std::log(frequency / 20.0) / std::log(1000.0) : 0.0;
}
// The centre of step `index` of `count`, as turning the knob to it sets it.
Position step(int64_t index, size_t count) {
    if (index < 0 || size_t(index) >= count) return std::nullopt;
    return std::min(((double(index) + 0.5) * 128.0) / double(count), 127.0);
}
Position labelled(const std::optional<std::string>& saved, const std::vector<std::string>& labels) {
    if (!saved) return std::nullopt;
    const std::string wanted = Text::uppercase(*saved);
    for (size_t i = 0; i < labels.size(); ++i) {
        if (Text::uppercase(labels[i]) == wanted) return step(int64_t(i), labels.size());
    }
    return std::nullopt; // "None" and anything else unknown
}

const std::vector<std::string>& labelsOf(const std::string& address) {
    static const std::vector<std::string> none;
    for (auto page : {KoalaController::Page::eq, KoalaController::Page::seq}) {
        for (const auto& knob : KoalaController::knobs(page)) {
            if (knob && knob->address == address) return knob->labels;
        }
    }
    return none;
}

} // namespace

std::optional<double> KoalaController::initialPosition(const std::string& address) const {
    using Read = std::function<Position(const KoalaController&)>;
    auto pad = [](double KoalaSession::Pad::*field, std::function<double(double)> scale) {
        return Read([field, scale](const KoalaController& c) -> Position {
            return scale(c.padInfo(c.selected).*field);
        });
    };
    auto eq = [](int band, bool gain) {
        return Read([band, gain](const KoalaController& c) -> Position {
            const KoalaSession::Pad info = c.padInfo(c.selected);
            return gain ? bipolar(info.eqGain[size_t(band)], 18) : hertz(info.eqFreq[size_t(band)]);
        });
    };
    auto bus = [](int index) {
        return Read([index](const KoalaController& c) -> Position {
            return level(c.session.busVolume[size_t(index)]);
        });
    };
    // One table from each knob's address to where the saved song puts it (0-127).
    static const std::map<std::string, Read> table{
        {"/currPad/volume", pad(&KoalaSession::Pad::vol, level)},
        {"/currPad/pan", pad(&KoalaSession::Pad::pan, level)},
        {"/currPad/pitch", pad(&KoalaSession::Pad::pitch, [](double v) { return bipolar(v, 24); })},
        {"/currPad/sample/tone", pad(&KoalaSession::Pad::tone, [](double v) { return bipolar(v, 1); })},
        {"/currPad/sample/ampEnvelope/attack", pad(&KoalaSession::Pad::attack, level)},
        {"/currPad/sample/ampEnvelope/release", pad(&KoalaSession::Pad::release, level)},
        {"/currPad/sample/start",
         [](const KoalaController& c) -> Position {
             const KoalaSession::Pad info = c.padInfo(c.selected);
             if (!info.frames || *info.frames <= 0) return std::nullopt;
             return info.start / *info.frames * 127.0;
         }},
        {"/currPad/sample/length",
         [](const KoalaController& c) -> Position {
             const KoalaSession::Pad info = c.padInfo(c.selected);
             if (!info.frames || *info.frames <= 0) return std::nullopt;
             return (info.end.value_or(*info.frames) - info.start) / *info.frames * 127.0;
         }},
        {"/currPad/eq/band0/freq", eq(0, false)},
        {"/currPad/eq/band0/gain", eq(0, true)},
        {"/currPad/eq/band1/freq", eq(1, false)},
        {"/currPad/eq/band1/gain", eq(1, true)},
        {"/currPad/eq/band2/freq", eq(2, false)},
        {"/currPad/eq/band2/gain", eq(2, true)},
        {"/currPad/sample/chokeGroup",
         [](const KoalaController& c) { return step(c.padInfo(c.selected).choke, 7); }},
        {"/currPad/bus", [](const KoalaController& c) { return step(c.padInfo(c.selected).bus + 1, 5); }},
        {"/mixer/channels/1/volume", bus(0)},
        {"/mixer/channels/2/volume", bus(1)},
        {"/mixer/channels/3/volume", bus(2)},
        {"/mixer/channels/4/volume", bus(3)},
        {"/mixer/channels/main/volume",
         [](const KoalaController& c) -> Position { return level(c.session.mainVolume); }},
        {"/sequencer/swing", [](const KoalaController& c) -> Position { return level(c.session.swing); }},
        {"/sequencer/beatsPerBar",
         [](const KoalaController& c) { return step(c.session.beatsPerBar - 1, 16); }},
        {"/sequencer/seqSnap",
         [](const KoalaController& c) {
             return labelled(c.session.sequenceSnap, labelsOf("/sequencer/seqSnap"));
         }},
        {"/keyboard/scale",
         [](const KoalaController& c) { return labelled(c.session.scale, labelsOf("/keyboard/scale")); }},
    };
    auto found = table.find(address);
    if (found == table.end()) return std::nullopt;
    Position value = found->second(*this);
    if (!value || !std::isfinite(*value)) return std::nullopt;
    return std::clamp(*value, 0.0, 127.0);
}

std::string KoalaController::knobText(const Knob& knob) const {
    if (knob.kind == Kind::relative) {
        if (knob.address == "bpm") {
            auto tempo = bpm();
            return tempo ? format("%.1f", *tempo) : "—";
        }
        const int sequence = currentSequence();
        int64_t bars = 1;
        if (auto preview = sequencePreviews.find(sequence); preview != sequencePreviews.end()) {
            bars = preview->second.bars;
        } else if (sequence >= 0 && size_t(sequence) < session.bars.size()) {
            bars = session.bars[size_t(sequence)];
        }
        return std::to_string(bars) + " BAR" + (bars == 1 ? "" : "S");
    }
    auto known = position(knob.address);
    if (!known) return "—";
    const double v = *known;
    const double scaled = (v - 63.5) / 63.5;
    switch (knob.kind) {
    case Kind::steps:
        return knob.labels.empty() ? "" : knob.labels[size_t(stepIndex(int(knob.labels.size()), v))];
    case Kind::level:
        return std::to_string(int(v / 127.0 * 100.0)) + "%";
    case Kind::decibels:
    case Kind::semitones: {
        const double x = scaled * knob.range;
        const char* suffix = knob.kind == Kind::decibels ? " DB" : " ST";
        return std::abs(x) >= 0.05 ? format("%+.1f", x) + suffix : std::string("0") + suffix;
    }
    case Kind::bipolar: {
        const int x = int(scaled * 100.0);
        return x == 0 ? "0" : (x > 0 ? "+" : "") + std::to_string(x);
    }
    case Kind::pan: {
        const int x = int(scaled * 100.0);
        return x == 0 ? "C" : (x < 0 ? "L" + std::to_string(-x) : "R" + std::to_string(x));
    }
    case Kind::hertz: {
        const double f = 20.0 * std::pow(1000.0, v / 127.0);
        return f >= 1000 ? format("%.1f KHZ", f / 1000.0) : std::to_string(int(f)) + " HZ";
    }
    case Kind::relative:
        break;
    }
    return "";
}

} // namespace tandem
