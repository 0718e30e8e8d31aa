#include "platform/linux/LinuxAudioDevices.h"

#include "platform/linux/ProcFs.h"

#include <cstdio>
#include <sstream>

namespace tandem {

namespace fs = std::filesystem;

std::vector<std::pair<int, std::string>> parseAsoundCards(const std::string& text) {
    std::vector<std::pair<int, std::string>> cards;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        int number = -1;
        int used = 0;
        // " 0 [PCH            ]: HDA-Intel - HDA Intel PCH"
        if (std::sscanf(line.c_str(), " %d [%*[^]]]:%n", &number, &used) < 1 || used == 0) continue;
        size_t dash = line.find(" - ", size_t(used));
        std::string name = dash == std::string::npos ? line.substr(size_t(used)) : line.substr(dash + 3);
        while (!name.empty() && (name.back() == ' ' || name.back() == '\r'))
            name.pop_back();
        size_t start = name.find_first_not_of(' ');
        cards.emplace_back(number, start == std::string::npos ? std::string() : name.substr(start));
    }
    return cards;
}

namespace {

// Running substreams and the rate of an open one, from the card's PCM folders.
void readStreams(const fs::path& card, AudioDevice& device) {
    std::error_code error;
    for (fs::directory_iterator pcm(card, error), end; !error && pcm != end; pcm.increment(error)) {
        if (pcm->path().filename().string().rfind("pcm", 0) != 0) continue;
        std::error_code inner;
        for (fs::directory_iterator sub(pcm->path(), inner), stop; !inner && sub != stop;
             sub.increment(inner)) {
            if (sub->path().filename().string().rfind("sub", 0) != 0) continue;
            if (auto status = procfs::readSmall(sub->path() / "status", 256))
                if (status->find("RUNNING") != std::string::npos) device.runningSomewhere = true;
            if (auto params = procfs::readSmall(sub->path() / "hw_params", 512)) {
                size_t at = params->find("rate: ");
                if (at != std::string::npos)
                    device.nominalSampleRate = std::strtod(params->c_str() + at + 6, nullptr);
            }
        }
    }
}

class PollToken final : public Observation {
public:
    explicit PollToken(std::unique_ptr<Timer> timer)
        : timer(std::move(timer)) {}
    ~PollToken() override { timer->cancel(); }

private:
    std::unique_ptr<Timer> timer;
};

} // namespace

std::vector<AudioDevice> LinuxAudioDevices::devices() {
    std::vector<AudioDevice> list;
    auto text = procfs::readSmall(asound / "cards", 16384);
    if (!text) return list;
    for (const auto& [number, name] : parseAsoundCards(*text)) {
        AudioDevice device{uint32_t(number + 1), name, true, false, 0};
        readStreams(asound / ("card" + std::to_string(number)), device);
        list.push_back(device);
    }
    return list;
}

std::optional<AudioDevice> LinuxAudioDevices::device(uint32_t id) {
    for (const AudioDevice& device : devices())
        if (device.id == id) return device;
    return std::nullopt;
}

ObservationToken LinuxAudioDevices::observeDevices(std::shared_ptr<Queue> queue,
                                                   std::function<void()> handler) {
    auto known = std::make_shared<std::vector<std::pair<uint32_t, std::string>>>();
    auto listed = [this] {
        std::vector<std::pair<uint32_t, std::string>> ids;
        for (const AudioDevice& device : devices())
            ids.emplace_back(device.id, device.name);
        return ids;
    };
    *known = listed();
    return std::make_unique<PollToken>(queue->timer(1, 1, [known, listed, handler] {
        auto now = listed();
        if (now == *known) return;
        *known = std::move(now);
        handler();
    }));
}

ObservationToken LinuxAudioDevices::observeDevice(uint32_t id, AudioDeviceProperty property,
                                                  std::shared_ptr<Queue> queue,
                                                  std::function<void()> handler) {
    auto value = [this, id, property]() -> std::optional<double> {
        auto found = device(id);
        if (!found) return std::nullopt;
        switch (property) {
        case AudioDeviceProperty::alive:
            return found->alive ? 1 : 0;
        case AudioDeviceProperty::runningSomewhere:
            return found->runningSomewhere ? 1 : 0;
        case AudioDeviceProperty::nominalSampleRate:
            return found->nominalSampleRate;
        }
        return std::nullopt;
    };
    auto known = std::make_shared<std::optional<double>>(value());
    return std::make_unique<PollToken>(queue->timer(1, 1, [known, value, handler] {
        auto now = value();
        if (now == *known) return;
        *known = now;
        handler();
    }));
}

} // namespace tandem
