#include "dictation/local_stamp.h"

#include <cstdio>
#include <cstdlib>

namespace talvoro::LocalStamp {

std::string fileName(const QDateTime& time) {
    return time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HHmmss")).toStdString();
}

std::string withZone(const QDateTime& time) {
    const QDateTime local = time.toLocalTime();
    const int offset = local.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    char zone[16];
    std::snprintf(zone, sizeof zone, "%c%02d%02d", offset < 0 ? '-' : '+', minutes / 60,
                  minutes % 60);
    return local.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString() + zone;
}

std::string day(const QDateTime& time) {
    return time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd")).toStdString();
}

} // namespace talvoro::LocalStamp
