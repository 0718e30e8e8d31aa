#pragma once

#include <string>

namespace tandem::Text {

// ASCII case changes: the names Tandem compares (endpoints, effects, synths) are plain ASCII.
std::string lowercase(std::string text);
std::string uppercase(std::string text);
// Whether `text` contains `part`, ignoring ASCII case.
bool containsIgnoringCase(const std::string& text, const std::string& part);

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool isValidUtf8(const std::string& bytes);
// The bytes as UTF-8 with every ill-formed sequence replaced by U+FFFD, as a lenient decoder does.
std::string repairUtf8(const std::string& bytes);
// Without white space and line breaks at either end.
std::string trimmed(const std::string& text);

} // namespace tandem::Text
