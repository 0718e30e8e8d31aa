#include "base/Json.h"

#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace tandem::Json {

Result<Value> parse(std::string_view text) {
    try {
        return Value::parse(text.begin(), text.end());
    } catch (const Value::exception& failure) {
        return Error{"Tandem.JSON", failure.id,
                     "The data couldn't be read because it isn't in the correct format."};
    }
}

std::optional<Value> readFile(const std::filesystem::path& path, FileSystem& disk) {
    auto bytes = disk.readFile(path);
    if (!bytes) return std::nullopt;
    auto value = parse(*bytes);
    if (!value) return std::nullopt;
    return std::move(value).value();
}

Result<std::string> serialize(const Value& value) {
    try {
        std::string text = value.dump(2, ' ', false, Value::error_handler_t::strict);
        text.push_back('\n');
        return text;
    } catch (const Value::exception& failure) {
        return Error{"Tandem.JSON", failure.id,
                     "The data couldn't be written because it isn't in the correct format."};
    }
}

bool nestedDeeperThan(const Value& value, size_t limit) {
    std::vector<std::pair<const Value*, size_t>> pending{{&value, 1}};
    while (!pending.empty()) {
        auto [at, depth] = pending.back();
        pending.pop_back();
        if (!at->is_structured()) continue;
        if (depth > limit) return true;
        for (const Value& child : *at)
            pending.emplace_back(&child, depth + 1);
    }
    return false;
}

std::optional<long long> wholeNumber(const Value* value) {
    if (!value || !value->is_number()) return std::nullopt;
    if (value->is_number_float()) {
        double number = value->get<double>();
        if (!std::isfinite(number) || std::trunc(number) != number || number < -9223372036854775808.0 ||
            number >= 9223372036854775808.0)
            return std::nullopt;
        return static_cast<long long>(number);
    }
    if (value->is_number_unsigned()) {
        auto raw = value->get<unsigned long long>();
        if (raw > static_cast<unsigned long long>(std::numeric_limits<long long>::max())) return std::nullopt;
        return static_cast<long long>(raw);
    }
    return value->get<long long>();
}

const Value* member(const Value& object, std::string_view key) {
    if (!object.is_object()) return nullptr;
    auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

std::optional<bool> boolean(const Value& object, std::string_view key) {
    const Value* value = member(object, key);
    if (!value || !value->is_boolean()) return std::nullopt;
    return value->get<bool>();
}

std::optional<long long> integer(const Value& object, std::string_view key) {
    const Value* value = member(object, key);
    if (!value || !value->is_number_integer()) return std::nullopt;
    if (value->is_number_unsigned()) {
        auto raw = value->get<unsigned long long>();
        if (raw > static_cast<unsigned long long>(std::numeric_limits<long long>::max())) return std::nullopt;
        return static_cast<long long>(raw);
    }
    return value->get<long long>();
}

std::optional<std::string> string(const Value& object, std::string_view key) {
    const Value* value = member(object, key);
    if (!value || !value->is_string()) return std::nullopt;
    return value->get<std::string>();
}

} // namespace tandem::Json
