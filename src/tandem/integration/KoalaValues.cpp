#include "tandem/integration/KoalaValues.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace tandem::KoalaValues {

using Json::Value;

namespace {

// A whole string holding a decimal floating-point literal: [+-]digits[.digits][e[+-]digits].
std::optional<double> decimal(const std::string& text) {
    size_t i = 0, n = text.size();
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    size_t digits = 0;
    while (i < n && std::isdigit(static_cast<unsigned char>(text[i])))
        ++i, ++digits;
    if (i < n && text[i] == '.') {
        ++i;
        while (i < n && std::isdigit(static_cast<unsigned char>(text[i])))
            ++i, ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
        size_t exponent = 0;
        while (i < n && std::isdigit(static_cast<unsigned char>(text[i])))
            ++i, ++exponent;
        if (exponent == 0) return std::nullopt;
    }
    if (i != n) return std::nullopt;
    const char* begin = text.data() + (text[0] == '+' ? 1 : 0);
    double value = 0;
    auto [end, error] = std::from_chars(begin, text.data() + n, value);
    if (error == std::errc::result_out_of_range) {
        // Too small for a double is nearly zero, not missing; too large is left out below.
        value = std::strtod(text.c_str(), nullptr);
    } else if (error != std::errc() || end != text.data() + n) {
        return std::nullopt;
    }
    if (!std::isfinite(value)) return std::nullopt;
    return value;
}

} // namespace

// Values that are not finite are left out: no arithmetic downstream has to meet them.
std::optional<double> number(const Value* value) {
    if (!value) return std::nullopt;
    if (value->is_boolean()) return value->get<bool>() ? 1.0 : 0.0;
    if (value->is_number()) {
        double result = value->get<double>();
        return std::isfinite(result) ? std::optional(result) : std::nullopt;
    }
    if (value->is_string()) return decimal(value->get_ref<const std::string&>());
    return std::nullopt;
}

std::optional<double> number(const Value& object, std::string_view key) {
    return number(Json::member(object, key));
}

std::optional<int64_t> integer(std::optional<double> value) {
    if (!value) return std::nullopt;
    double whole = std::trunc(*value);
    if (whole < -9223372036854775808.0 || whole >= 9223372036854775808.0) return std::nullopt;
    return static_cast<int64_t>(whole);
}

std::optional<bool> flag(const Value* value) {
    if (!value) return std::nullopt;
    if (value->is_boolean()) return value->get<bool>();
    if (value->is_string()) {
        const auto& text = value->get_ref<const std::string&>();
        if (text == "true") return true;
        if (text == "false") return false;
        return std::nullopt;
    }
    if (value->is_number_integer())
        return value->is_number_unsigned() ? value->get<uint64_t>() != 0 : value->get<int64_t>() != 0;
    if (value->is_number_float()) {
        double number = value->get<double>();
        if (!std::isfinite(number) || std::trunc(number) != number) return std::nullopt;
        return number != 0;
    }
    return std::nullopt;
}

bool flagOn(const Value& object, std::string_view key) {
    return flag(Json::member(object, key)).value_or(false);
}

std::optional<std::string> text(const Value* value) {
    if (!value || !value->is_string()) return std::nullopt;
    return value->get<std::string>();
}

} // namespace tandem::KoalaValues
