#pragma once

#include "platform/Defaults.h"

#include <map>
#include <mutex>
#include <variant>

namespace tandem {

// User defaults in memory, as a fresh user account has them (empty) or a test seeds them.
class SimDefaults final : public Defaults {
public:
    std::optional<bool> boolean(const std::string& suite, const std::string& key) override;
    std::optional<std::string> string(const std::string& suite, const std::string& key) override;
    void setBoolean(const std::string& suite, const std::string& key, bool value) override;
    void setString(const std::string& suite, const std::string& key, const std::string& value) override;
    void remove(const std::string& suite, const std::string& key) override;

private:
    using Value = std::variant<bool, std::string>;
    std::mutex lock;
    std::map<std::pair<std::string, std::string>, Value> values;
};

} // namespace tandem
