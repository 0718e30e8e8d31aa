#pragma once

#include "base/Json.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tandem {

// The forgiving rules by which Koala's song files are read: every value may be missing or of another
// kind, and hand-edited files hold numbers as strings, flags as 1 or "true". Whatever reads Koala's
// song reads it through these, so two readers never disagree about one file.
namespace KoalaValues {

// A JSON number (a boolean as 1 or 0), or a string that is wholly a decimal literal ("120", "0.5");
// values that are not finite are left out.
std::optional<double> number(const Json::Value* value);
std::optional<double> number(const Json::Value& object, std::string_view key);
// Truncated toward zero; a value outside the 64-bit range is left out.
std::optional<int64_t> integer(std::optional<double> value);
// A boolean, the strings "true" and "false", or a whole number (0 = false).
std::optional<bool> flag(const Json::Value* value);
bool flagOn(const Json::Value& object, std::string_view key);
// A JSON string; anything else counts as missing.
std::optional<std::string> text(const Json::Value* value);

} // namespace KoalaValues

} // namespace tandem
