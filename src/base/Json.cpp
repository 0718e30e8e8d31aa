#include "base/Json.h"

#include <limits>

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
