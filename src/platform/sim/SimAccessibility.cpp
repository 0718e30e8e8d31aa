#include "platform/sim/SimAccessibility.h"

namespace tandem {

void SimAccessibility::setTrusted(bool value) {
    std::lock_guard guard(lock);
    trusted = value;
}

int SimAccessibility::prompts() {
    std::lock_guard guard(lock);
    return promptCount;
}

int SimAccessibility::calls() {
    std::lock_guard guard(lock);
    return callCount;
}

void SimAccessibility::attach(int32_t processIdentifier, SimAccessible* application) {
    std::lock_guard guard(lock);
    applications[processIdentifier] = application;
}

void SimAccessibility::detach(int32_t processIdentifier) {
    std::lock_guard guard(lock);
    applications.erase(processIdentifier);
}

bool SimAccessibility::isProcessTrusted(bool prompt) {
    std::lock_guard guard(lock);
    if (prompt && !trusted) ++promptCount;
    return trusted;
}

AXElement SimAccessibility::applicationElement(int32_t processIdentifier) {
    return element(processIdentifier, 0);
}

SimAccessible* SimAccessibility::owner(AXElement element) {
    std::lock_guard guard(lock);
    ++callCount;
    if (!trusted) return nullptr; // an untrusted process reads nothing of other applications
    auto found = applications.find(int32_t(element.id >> 32));
    return found == applications.end() ? nullptr : found->second;
}

std::optional<AXValue> SimAccessibility::attribute(AXElement element, const std::string& name) {
    SimAccessible* application = owner(element);
    if (!application) return std::nullopt;
    return application->attribute(uint32_t(element.id), name);
}

bool SimAccessibility::setAttribute(AXElement element, const std::string& name, const AXValue& value) {
    SimAccessible* application = owner(element);
    return application && application->setAttribute(uint32_t(element.id), name, value);
}

bool SimAccessibility::performAction(AXElement element, const std::string& action) {
    SimAccessible* application = owner(element);
    return application && application->performAction(uint32_t(element.id), action);
}

} // namespace tandem
