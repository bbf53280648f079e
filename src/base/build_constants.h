#pragma once

namespace talvoro {

inline constexpr const char* version = "0.1.0";
inline constexpr const char* appDisplayName = "Тальворо";
// Everything that would reach a server or a style-editing model is off in this build.
inline constexpr bool isVoiceOnlyBuild = true;

} // namespace talvoro
