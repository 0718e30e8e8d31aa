#include "base/Text.h"

#include <cctype>

namespace tandem::Text {

std::string lowercase(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string uppercase(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool containsIgnoringCase(const std::string& text, const std::string& part) {
    return lowercase(text).find(lowercase(part)) != std::string::npos;
}

} // namespace tandem::Text
