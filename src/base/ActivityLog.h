#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace tandem::ActivityLog {

// Appends "<ISO 8601 UTC time> <message>\n" to HOME/Library/Logs/Tandem.log on the serial queue
// "Tandem.Log". Never waits for the disk; a line that cannot be written is dropped.
void write(std::string_view message);

// Waits until every line written so far has reached the file (or been dropped).
void flush();

// The log file for the current home folder.
std::string path();

// "2026-12-06T19:52:40Z": the time as the log writes it.
std::string timestamp(std::chrono::system_clock::time_point time);

} // namespace tandem::ActivityLog
