#pragma once

#include <optional>
#include <string>

namespace tandem {

// The user defaults: named suites of small values. Tandem's own suite is "Tandem" (on a Mac, the
// application's standard defaults); another application's suite is named by its bundle identifier.
class Defaults {
public:
    virtual ~Defaults() = default;

    virtual std::optional<bool> boolean(const std::string& suite, const std::string& key) = 0;
    virtual std::optional<std::string> string(const std::string& suite, const std::string& key) = 0;
    virtual void setBoolean(const std::string& suite, const std::string& key, bool value) = 0;
    virtual void setString(const std::string& suite, const std::string& key, const std::string& value) = 0;
    virtual void remove(const std::string& suite, const std::string& key) = 0;

    static constexpr const char* tandemSuite = "Tandem";
};

} // namespace tandem
