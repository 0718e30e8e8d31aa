#pragma once

#include <string>

namespace tandem::Text {

// ASCII case changes: the names Tandem compares (endpoints, effects, synths) are plain ASCII.
std::string lowercase(std::string text);
std::string uppercase(std::string text);
// Whether `text` contains `part`, ignoring ASCII case.
bool containsIgnoringCase(const std::string& text, const std::string& part);

} // namespace tandem::Text
