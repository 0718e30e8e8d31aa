#pragma once

namespace tandem {

// Tandem's own bundle identifier: how the workspace tells a running Tandem from other applications.
inline constexpr const char* tandemBundleIdentifier = "com.tandem-music.tandem";

} // namespace tandem
