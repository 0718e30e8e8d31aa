#pragma once

#include <string>

namespace tandem::Uuid {

// A new random (version 4) UUID in upper-case hexadecimal with hyphens.
std::string make();

} // namespace tandem::Uuid
