#pragma once

#include <QString>

namespace talvoro {

// Asks the user in a dialog of the program's own, with Russian buttons; the first answer is the
// default (Enter). True when the user took it.
bool askUser(const QString& question, const QString& yes, const QString& no);

} // namespace talvoro
