#include "platform/sim/SimDefaults.h"

namespace tandem {

std::optional<bool> SimDefaults::boolean(const std::string& suite, const std::string& key) {
    std::lock_guard guard(lock);
    auto found = values.find({suite, key});
    if (found == values.end()) return std::nullopt;
    if (const bool* flag = std::get_if<bool>(&found->second)) return *flag;
    return std::nullopt;
}

std::optional<std::string> SimDefaults::string(const std::string& suite, const std::string& key) {
    std::lock_guard guard(lock);
    auto found = values.find({suite, key});
    if (found == values.end()) return std::nullopt;
    if (const std::string* text = std::get_if<std::string>(&found->second)) return *text;
    return std::nullopt;
}

void SimDefaults::setBoolean(const std::string& suite, const std::string& key, bool value) {
    std::lock_guard guard(lock);
    values[{suite, key}] = value;
}

void SimDefaults::setString(const std::string& suite, const std::string& key, const std::string& value) {
    std::lock_guard guard(lock);
    values[{suite, key}] = value;
}

void SimDefaults::remove(const std::string& suite, const std::string& key) {
    std::lock_guard guard(lock);
    values.erase({suite, key});
}

} // namespace tandem
