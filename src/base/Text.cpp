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

namespace {

// The length of the well-formed sequence starting at `at`, or 0 when it is ill-formed there.
size_t sequenceLength(const std::string& bytes, size_t at) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) return 1;
    size_t length;
    unsigned char low = 0x80, high = 0xBF; // the allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;  // no overlong forms
        if (lead == 0xED) high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F; // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (at + length > bytes.size()) return 0;
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (size_t i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
    }
    return length;
}

} // namespace

bool isValidUtf8(const std::string& bytes) {
    for (size_t at = 0; at < bytes.size();) {
        size_t length = sequenceLength(bytes, at);
        if (!length) return false;
        at += length;
    }
    return true;
}

std::string repairUtf8(const std::string& bytes) {
    std::string repaired;
    repaired.reserve(bytes.size());
    for (size_t at = 0; at < bytes.size();) {
        if (size_t length = sequenceLength(bytes, at)) {
            repaired.append(bytes, at, length);
            at += length;
        } else {
            repaired += "\xEF\xBF\xBD";
            ++at;
        }
    }
    return repaired;
}

std::string trimmed(const std::string& text) {
    const char* blanks = " \t\n\r\v\f";
    size_t begin = text.find_first_not_of(blanks);
    if (begin == std::string::npos) return "";
    size_t end = text.find_last_not_of(blanks);
    return text.substr(begin, end - begin + 1);
}

} // namespace tandem::Text
