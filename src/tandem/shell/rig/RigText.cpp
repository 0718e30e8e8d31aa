#include "tandem/shell/rig/RigText.h"

#include <cstdio>

namespace tandem::RigText {

std::string padName(int pad) {
    if (pad < 0 || pad > 63) return "?";
    return std::string(1, char('A' + pad / 16)) + std::to_string(pad % 16 + 1);
}

std::string settings(const SimKoala::Settings& s) {
    std::string text = "pads ch " + std::to_string(s.padChannel) + " from note " +
                       std::to_string(s.noteOffset) + " · keyboard ch " + std::to_string(s.keyboardChannel);
    if (!s.useMapping) return text + " · MIDI map off";
    size_t addresses = 0;
    for (const auto& entry : s.commands)
        addresses += entry.second.size();
    return text + " · MIDI map on (" + std::to_string(addresses) + " commands)";
}

std::string profile(bool suitsMpcTouch, bool suitsPush2) {
    if (suitsMpcTouch && suitsPush2) return "MPC Touch and Push 2";
    if (suitsMpcTouch) return "MPC Touch";
    if (suitsPush2) return "Push 2";
    return "neither controller";
}

std::string notes(const std::vector<SimKoala::Played>& played, const std::string& source, size_t count) {
    std::string text;
    size_t shown = 0;
    for (auto it = played.rbegin(); it != played.rend() && shown < count; ++it) {
        if (it->source != source) continue;
        char when[32];
        std::snprintf(when, sizeof when, "%.2f s", it->time);
        std::string line = padName(it->pad) + " · note " + std::to_string(it->note) + " · vel " +
                           std::to_string(it->velocity);
        if (it->chop) line += " · chop " + std::to_string(*it->chop);
        line += std::string(" · ") + when;
        if (!text.empty()) text += "\n";
        text += line;
        ++shown;
    }
    return text.empty() ? "—" : text;
}

std::string driver(SimTouchDriver::Agent agent, bool mapped) {
    switch (agent) {
    case SimTouchDriver::Agent::missing:
        return "not installed";
    case SimTouchDriver::Agent::installed:
        return "installed, not loaded";
    case SimTouchDriver::Agent::loaded:
        return "loaded, not running";
    case SimTouchDriver::Agent::running:
        return mapped ? "running, MPC screen mapped" : "running, screen not mapped";
    }
    return "";
}

std::vector<std::string> tail(const std::string& text, size_t count) {
    std::vector<std::string> lines;
    size_t end = text.size();
    while (end > 0 && lines.size() < count) {
        const size_t newline = text.rfind('\n', end - 1);
        const size_t start = newline == std::string::npos ? 0 : newline + 1;
        if (end > start) lines.insert(lines.begin(), text.substr(start, end - start));
        if (newline == std::string::npos) break;
        end = newline;
    }
    return lines;
}

} // namespace tandem::RigText
