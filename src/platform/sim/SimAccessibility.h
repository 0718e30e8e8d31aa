#pragma once

#include "platform/Accessibility.h"

#include <map>
#include <mutex>

namespace tandem {

// What a simulated application answers through Accessibility. Elements are numbered by the
// application; 0 is the application element itself.
class SimAccessible {
public:
    virtual ~SimAccessible() = default;
    virtual std::optional<AXValue> attribute(uint32_t element, const std::string& name) = 0;
    virtual bool setAttribute(uint32_t element, const std::string& name, const AXValue& value) = 0;
    virtual bool performAction(uint32_t element, const std::string& action) = 0;
};

// Simulated Accessibility: a trust switch, and every element routed to the application that owns it.
class SimAccessibility final : public Accessibility {
public:
    void setTrusted(bool trusted);
    // How many times the system's prompt was asked for.
    int prompts();
    // Every attribute read, attribute change and action so far.
    int calls();

    void attach(int32_t processIdentifier, SimAccessible* application);
    void detach(int32_t processIdentifier);
    static AXElement element(int32_t processIdentifier, uint32_t local) {
        return {uint64_t(uint32_t(processIdentifier)) << 32 | local};
    }

    bool isProcessTrusted(bool prompt) override;
    AXElement applicationElement(int32_t processIdentifier) override;
    std::optional<AXValue> attribute(AXElement element, const std::string& name) override;
    bool setAttribute(AXElement element, const std::string& name, const AXValue& value) override;
    bool performAction(AXElement element, const std::string& action) override;

private:
    SimAccessible* owner(AXElement element);

    std::mutex lock;
    bool trusted = true;
    int promptCount = 0;
    int callCount = 0;
    std::map<int32_t, SimAccessible*> applications;
};

} // namespace tandem
