#pragma once

#include <QDateTime>

#include <string>

namespace talvoro {

// Local times as the dictation folders and records write them, in the POSIX locale.
namespace LocalStamp {

// "2026-01-01 130000": recording and sample file names.
std::string fileName(const QDateTime& time);
// "2026-01-01 13:00:00+0300": sample records and the archive note.
std::string withZone(const QDateTime& time);
// "2026-01-01".
std::string day(const QDateTime& time);

} // namespace LocalStamp

} // namespace talvoro
