#include "commands/doctor_command.h"

#include <cstdio>

#include "session/session_probe.h"
#include "session/session_texts.h"

namespace talvoro {

bool runDoctor(const CommandContext&) {
    const SystemSession& session = systemSession();
    for (const std::string& line : doctorLines(session.facts, session.decision))
        std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    if (session.decision.blocker())
        throw ExitRequest{1};
    return true;
}

} // namespace talvoro
