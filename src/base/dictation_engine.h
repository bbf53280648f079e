#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace talvoro {

enum class DictationEngine { server, local };

inline constexpr std::array<DictationEngine, 2> allDictationEngines{DictationEngine::server,
                                                                    DictationEngine::local};

inline std::string rawValue(DictationEngine engine) {
    return engine == DictationEngine::server ? "server" : "local";
}

// Menu text.
inline std::string title(DictationEngine engine) {
    return engine == DictationEngine::server ? "на сервере" : "на этом компьютере";
}

inline std::optional<DictationEngine> dictationEngineFromRaw(std::string_view raw) {
    if (raw == "server")
        return DictationEngine::server;
    if (raw == "local")
        return DictationEngine::local;
    return std::nullopt;
}

} // namespace talvoro
