#pragma once

#include <cstdio>
#include <string>

namespace talvoro {

// Counts a self-check's checks. A check that holds prints nothing; one that fails prints
// "✗ name" (+ ": detail").
class SelfCheck {
public:
    explicit SelfCheck(std::FILE* out = stdout) : out(out) {}

    bool check(const std::string& name, bool holds, const std::string& detail = {});

    int checks() const { return count; }
    int failures() const { return failed; }

    // Prints an empty line and either successPrefix + N + " проверок)" or
    // "ПЛОХО: F из N". True when every check held.
    bool summarize(const std::string& successPrefix);
    // summarize(), and ExitRequest{1} when a check failed.
    bool finish(const std::string& successPrefix);

private:
    std::FILE* out;
    int count = 0;
    int failed = 0;
};

} // namespace talvoro
