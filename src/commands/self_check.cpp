#include "commands/self_check.h"

#include "base/command_line.h"

namespace talvoro {

bool SelfCheck::check(const std::string& name, bool holds, const std::string& detail) {
    ++count;
    if (!holds) {
        ++failed;
        std::fprintf(out, "✗ %s%s%s\n", name.c_str(), detail.empty() ? "" : ": ", detail.c_str());
    }
    return holds;
}

bool SelfCheck::summarize(const std::string& successPrefix) {
    if (failed == 0)
        std::fprintf(out, "\n%s%d проверок)\n", successPrefix.c_str(), count);
    else
        std::fprintf(out, "\nПЛОХО: %d из %d\n", failed, count);
    std::fflush(out);
    return failed == 0;
}

bool SelfCheck::finish(const std::string& successPrefix) {
    if (!summarize(successPrefix))
        throw ExitRequest{1};
    return true;
}

} // namespace talvoro
