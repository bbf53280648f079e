#pragma once

namespace talvoro {

// Both come from the build: the project's version and the number of commits it was built from
// ("?" outside a git checkout). Defined in one file, so a new build number rebuilds only it.
extern const char* const version;
extern const char* const buildNumber;
inline constexpr const char* appDisplayName = "Тальворо";
// Everything that would reach a server or a style-editing model is off in this build.
inline constexpr bool isVoiceOnlyBuild = true;

} // namespace talvoro
