#include "platform/linux/JsonFileDefaults.h"

#include "base/ActivityLog.h"
#include "base/Paths.h"
#include "base/SafeFile.h"

namespace tandem {

JsonFileDefaults::JsonFileDefaults(FileSystem& disk)
    : disk(disk) {}

std::filesystem::path JsonFileDefaults::file(const std::string& suite) {
    return Paths::home() / "Library" / "Preferences" / (suite + ".json");
}

Json::Value& JsonFileDefaults::load(const std::string& suite) {
    auto found = suites.find(suite);
    if (found != suites.end()) return found->second;
    auto read = Json::readFile(file(suite), disk);
    Json::Value object =
        read && read->is_object() && !Json::nestedDeeperThan(*read) ? *read : Json::Value::object();
    return suites.emplace(suite, std::move(object)).first->second;
}

void JsonFileDefaults::save(const std::string& suite) {
    auto text = Json::serialize(suites[suite]);
    Result<void> written =
        text ? disk.createDirectories(file(suite).parent_path()) : Result<void>(text.error());
    if (written) written = SafeFile::atomicWrite(file(suite), *text, disk);
    if (!written && !reportedFailure) {
        // The values still hold for this run; only their keeping across runs is lost.
        reportedFailure = true;
        ActivityLog::write("User defaults not saved: " + written.error().description);
    }
}

std::optional<bool> JsonFileDefaults::boolean(const std::string& suite, const std::string& key) {
    std::lock_guard guard(lock);
    const Json::Value* value = Json::member(load(suite), key);
    if (!value || !value->is_boolean()) return std::nullopt;
    return value->get<bool>();
}

std::optional<std::string> JsonFileDefaults::string(const std::string& suite, const std::string& key) {
    std::lock_guard guard(lock);
    const Json::Value* value = Json::member(load(suite), key);
    if (!value || !value->is_string()) return std::nullopt;
    return value->get<std::string>();
}

void JsonFileDefaults::setBoolean(const std::string& suite, const std::string& key, bool value) {
    std::lock_guard guard(lock);
    load(suite)[key] = value;
    save(suite);
}

void JsonFileDefaults::setString(const std::string& suite, const std::string& key, const std::string& value) {
    std::lock_guard guard(lock);
    load(suite)[key] = value;
    save(suite);
}

void JsonFileDefaults::remove(const std::string& suite, const std::string& key) {
    std::lock_guard guard(lock);
    Json::Value& object = load(suite);
    if (!object.contains(key)) return;
    object.erase(key);
    save(suite);
}

} // namespace tandem
