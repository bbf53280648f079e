#pragma once

#include <optional>
#include <string>

namespace talvoro {

// Secrets from the desktop's secret service, looked up with `secret-tool`.
class Keychain {
public:
    // Successes are cached for the process; a miss asks again next time.
    static std::optional<std::string> password(const std::string& service);
    // Which program answers; tests point it at a script.
    static void setTool(const std::string& program);
};

} // namespace talvoro
