#pragma once

namespace talvoro {

// Both come from the build: the project's version and the number of commits it was built from
// ("?" outside a git checkout).
inline constexpr const char* version = TALVORO_VERSION;
inline constexpr const char* buildNumber = TALVORO_BUILD_NUMBER;
inline constexpr const char* appDisplayName = "Тальворо";
// Everything that would reach a server or a style-editing model is off in this build.
inline constexpr bool isVoiceOnlyBuild = true;

} // namespace talvoro
