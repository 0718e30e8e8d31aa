#pragma once

#include "platform/Processes.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tandem::procfs {

// A small file's bytes (at most `limit`), read in one go; nothing when it cannot be opened.
std::optional<std::string> readSmall(const std::filesystem::path& file, size_t limit = 4096);

// A process's own name: its "comm", which the kernel cuts at 15 bytes, completed from the program
// named first in its "cmdline" when that name begins with it ("DisplayLinkUser" →
// "DisplayLinkUserAgent"); at most 63 bytes. Empty when the process is gone.
std::string processName(const std::filesystem::path& proc, int32_t pid);

// Every process under `proc`, in ascending number.
std::vector<ProcessEntry> list(const std::filesystem::path& proc);

// User plus system time from "stat", in nanoseconds.
std::optional<uint64_t> cpuTime(const std::filesystem::path& proc, int32_t pid);

// The processes (other than none) with a descriptor open on `file`, in ascending number.
std::vector<int32_t> holders(const std::filesystem::path& proc, const std::string& file);

} // namespace tandem::procfs
