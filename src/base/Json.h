#pragma once

#include "base/Error.h"
#include "base/FileSystem.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tandem::Json {

using Value = nlohmann::json;

// Parses JSON text; a syntax error is an Error of domain "Tandem.JSON".
Result<Value> parse(std::string_view text);

// Reads and parses a file forgivingly: a missing, unreadable or malformed file gives nothing.
std::optional<Value> readFile(const std::filesystem::path& path, FileSystem& disk = FileSystem::local());

// Pretty-printed text with sorted keys and a final newline: the same value always gives the same bytes.
// Fails only for text that is not valid UTF-8.
Result<std::string> serialize(const Value& value);

// Containers nested deeper than this are refused by Koala's file writers: copying and printing a
// value recurse once per level, and a hand-made file can nest far deeper than any stack allows.
inline constexpr size_t maxDepth = 512;
// True when arrays and objects nest more than `limit` levels (`{}` is one level). Iterative, so it is
// safe on any value the parser accepts.
bool nestedDeeperThan(const Value& value, size_t limit = maxDepth);

// An integer, or a real with no fractional part within the 64-bit range (36.0 counts as 36): how a
// reader that does not tell integers from reals sees a number.
std::optional<long long> wholeNumber(const Value* value);

// Forgiving accessors: a missing member or one of another kind gives nothing.
std::optional<bool> boolean(const Value& object, std::string_view key);
std::optional<long long> integer(const Value& object, std::string_view key);
std::optional<std::string> string(const Value& object, std::string_view key);
// The member itself, or nothing when absent (or when `object` is not an object).
const Value* member(const Value& object, std::string_view key);

} // namespace tandem::Json
