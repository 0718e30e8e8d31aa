#pragma once

#include "base/FileSystem.h"
#include "base/Json.h"
#include "platform/Defaults.h"

#include <filesystem>
#include <map>
#include <mutex>

namespace tandem {

// User defaults as one JSON object per suite, "Library/Preferences/<suite>.json" under the home
// folder, rewritten atomically on every change. A malformed file reads as empty (and is replaced on
// the next change); a folder that cannot be written keeps the values in memory for this run and says
// so once in the log. Not QSettings: that follows XDG_CONFIG_HOME before HOME, and Tandem's files all
// live under HOME. Thread-safe.
class JsonFileDefaults final : public Defaults {
public:
    explicit JsonFileDefaults(FileSystem& disk = FileSystem::local());

    std::optional<bool> boolean(const std::string& suite, const std::string& key) override;
    std::optional<std::string> string(const std::string& suite, const std::string& key) override;
    void setBoolean(const std::string& suite, const std::string& key, bool value) override;
    void setString(const std::string& suite, const std::string& key, const std::string& value) override;
    void remove(const std::string& suite, const std::string& key) override;

    static std::filesystem::path file(const std::string& suite);

private:
    Json::Value& load(const std::string& suite); // with the lock held
    void save(const std::string& suite);         // with the lock held

    FileSystem& disk;
    std::mutex lock;
    std::map<std::string, Json::Value> suites;
    bool reportedFailure = false;
};

} // namespace tandem
