// Reading a large song with KoalaSession::readSaved against parsing the same five files with
// nlohmann::json alone: what the value rules and the record cost on top of the parse.
#include "base/FileSystem.h"
#include "base/Uuid.h"
#include "tandem/integration/KoalaSession.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <random>

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

struct SongFolder {
    fs::path root = fs::temp_directory_path() / ("tandem-bench-song-" + tandem::Uuid::make());
    fs::path song = root / "default";
    fs::path settings = root / "settings";

    SongFolder() {
        std::mt19937 random(1);
        auto real = [&](double scale) { return scale * (random() % 10000) / 10000.0; };
        json samples = json::array(), pads = json::array();
        for (int i = 0; i < 64; ++i) {
            samples.push_back(
                {{"id", i},
                 {"metadata", {{"originalPath", "/Users/me/Samples/sample " + std::to_string(i) + ".wav"}}}});
            json slices = json::array();
            for (int s = 0; s < 16; ++s)
                slices.push_back({{"start", real(1)}, {"end", real(1)}});
            json pad = {{"pad", i},
                        {"sampleId", i},
                        {"label", ""},
                        {"vol", real(1)},
                        {"pan", real(1)},
                        {"pitch", real(12)},
                        {"attack", real(1)},
                        {"release", real(1)},
                        {"start", real(0.2)},
                        {"end", 0.9},
                        {"looping", i % 2 == 0},
                        {"oneshot", true},
                        {"chokeGroup", i % 4},
                        {"bus", i % 4},
                        {"reverse", false},
                        {"eq",
                         {{"enabled", true},
                          {"lo", {{"freq", 100}, {"gain", 1}, {"q", 1}, {"type", "lowshelf"}}},
                          {"mid", {{"freq", 1000}, {"gain", 0}, {"q", 1}, {"type", "peaking"}}},
                          {"hi", {{"freq", 8000}, {"gain", -1}, {"q", 1}, {"type", "highshelf"}}}}}};
            if (i % 2) {
                pad["synth"] = "CHOPPER";
                pad["synthParams"] = {
                    {"TRIGGER MODE", 1}, {"ONE SHOT", 1}, {"padParams", {{"label", "chop"}, {"vol", 0.7}}}};
                pad["chops"] = {{"slices", slices}};
            }
            pads.push_back(pad);
        }
        json sequences = json::array();
        for (int s = 0; s < 32; ++s) {
            json notes = json::array();
            for (int n = 0; n < 2000; ++n) {
                notes.push_back({{"num", random() % 64},
                                 {"timeOffset", random() % (4096 * 16)},
                                 {"length", 512 + random() % 4096},
                                 {"vel", random() % 128},
                                 {"pitch", 0},
                                 {"subPad", int(random() % 17) - 1}});
            }
            sequences.push_back({{"noteSequence", {{"pattern", {{"numBars", 4}, {"notes", notes}}}}}});
        }
        json buses = json::array();
        for (int b = 0; b < 4; ++b) {
            buses.push_back(
                {{"volume", 0.8},
                 {"mute", false},
                 {"solo", false},
                 {"chain", {{{"name", "REVERB"}, {"bypass", true}}, {{"name", "DUB"}, {"bypass", false}}}}});
        }
        json vanilla = json::array(), strawberry = json::array();
        const char* names[] = {"CRUSH",   "PITCH",       "COMB",   "RING",      "REVERB", "STUTTER",
                               "GATE",    "FILTER",      "CUTTER", "REVERSE",   "DUB",    "TEMPO DELAY",
                               "TALKBOX", "VIBROFLANGE", "DIRTY",  "COMPRESSOR"};
        for (int f = 0; f < 16; ++f)
            (f < 8 ? vanilla : strawberry).push_back({{"name", names[f]}, {"value", real(1)}});
        write("sampler/sampler.json", {{"samples", samples}, {"pads", pads}});
        write("sequence.json", {{"bpm", 120},
                                {"swing", 0.1},
                                {"currSequenceId", 3},
                                {"quantizing", true},
                                {"sequences", sequences}});
        write("mixer.json", {{"buses", buses}, {"master", {{"volume", 1}, {"chain", json::array()}}}});
        write("fx.json", {{"hold", false}, {"buses", {{"vanilla", vanilla}, {"strawberry", strawberry}}}});
        write("song.json", {{"keyboardMode", false}, {"selectedPad", 5}, {"name", "Bench"}});
        fs::create_directories(settings);
        std::ofstream(settings / "defaults.json") << json{{"countInBars", 1}}.dump();
    }
    ~SongFolder() { fs::remove_all(root); }

    void write(const std::string& name, const json& value) {
        fs::create_directories((song / name).parent_path());
        std::ofstream(song / name) << value.dump(2);
    }
};

SongFolder& folder() {
    static SongFolder shared;
    return shared;
}

void BM_ReadSaved(benchmark::State& state) {
    auto& song = folder();
    for (auto _ : state) {
        auto session = tandem::KoalaSession::readSaved(song.song, {}, song.settings);
        if (!session) state.SkipWithError("song did not read");
        benchmark::DoNotOptimize(session);
    }
}
BENCHMARK(BM_ReadSaved)->Unit(benchmark::kMillisecond);

void BM_ParseOnly(benchmark::State& state) {
    auto& song = folder();
    for (auto _ : state) {
        for (const std::string& name : tandem::KoalaSession::files()) {
            auto bytes = tandem::FileSystem::local().readFile(song.song / name);
            json value = json::parse(bytes->begin(), bytes->end(), nullptr, false);
            benchmark::DoNotOptimize(value);
        }
    }
}
BENCHMARK(BM_ParseOnly)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
