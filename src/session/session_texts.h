#pragma once

#include <string>
#include <vector>

#include "session/session_decision.h"
#include "session/session_facts.h"

namespace talvoro {

// One line for the menu: the path of each duty.
std::string decisionLine(const SessionDecision& decision);

// What `doctor` prints: the session, then each duty with the path chosen and why not the others.
std::vector<std::string> doctorLines(const SessionFacts& facts, const SessionDecision& decision);

} // namespace talvoro
