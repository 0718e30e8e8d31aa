#pragma once

// Helpers shared by the fuzz targets: a check that stops the run loudly, input splitting, and a
// scratch folder that lives as long as the fuzzing process.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include <unistd.h>

// An invariant that must hold for every input. abort() makes libFuzzer keep the input as a crash.
#define FUZZ_CHECK(condition, what)                                                                          \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "\nINVARIANT FAILED at %s:%d: %s\n  (%s)\n", __FILE__, __LINE__, what,      \
                         #condition);                                                                        \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (0)

namespace fuzz {

using Bytes = std::vector<uint8_t>;

// 0xFF and 0xFE never occur in valid UTF-8, so no JSON text needs them: they are free to act as the
// section separator and as the repeat marker.
inline constexpr uint8_t separator = 0xFF;
inline constexpr uint8_t repeatMarker = 0xFE;

// Splits at separator bytes into at most `maxSections` sections; separators beyond that stay in the last
// section. Fewer separators give fewer sections, which the targets read as missing files.
inline std::vector<std::string> splitSections(std::span<const uint8_t> data, size_t maxSections) {
    std::vector<std::string> sections(1);
    for (uint8_t byte : data) {
        if (byte == separator && sections.size() < maxSections) {
            sections.emplace_back();
        } else {
            sections.back().push_back(char(byte));
        }
    }
    return sections;
}

// Expands "byte 0xFE n" into that byte repeated 64 × n more times, while the text stays under
// `limit` bytes. Sections are split before they are expanded, so n is at most 0xFE. Nesting deeper
// than the readers allow needs thousands of bytes; this way the fuzzer reaches it from inputs of a few
// bytes. The limit keeps one input from costing seconds.
inline std::string expandRepeats(const std::string& text, size_t limit = 65536) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (uint8_t(text[i]) == repeatMarker && i + 1 < text.size() && !out.empty()) {
            const size_t room = limit > out.size() ? limit - out.size() : 0;
            out.append(std::min(room, size_t(uint8_t(text[i + 1])) * 64), out.back());
            ++i;
            continue;
        }
        out.push_back(text[i]);
    }
    return out;
}

// A folder under the temporary folder ($TMPDIR), made once per process and removed at exit.
inline const std::filesystem::path& scratchFolder(const char* prefix) {
    static const std::filesystem::path folder = [prefix] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / (std::string(prefix) + "XXXXXX")).string();
        if (!mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        std::filesystem::path made(pattern);
        static std::filesystem::path forCleanup;
        forCleanup = made;
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(forCleanup, ignored);
        });
        return made;
    }();
    return folder;
}

inline void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::abort();
    }
}

// The file's bytes, or nothing when it does not exist.
inline std::optional<std::string> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace fuzz
