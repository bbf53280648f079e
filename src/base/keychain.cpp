#include "base/keychain.h"

#include <QProcess>
#include <QString>
#include <map>
#include <mutex>

namespace talvoro {

namespace {
std::mutex lock;                          // held for a whole lookup, child process included
std::map<std::string, std::string> cache; // guarded by lock
std::string tool = "secret-tool";         // guarded by lock
} // namespace

void Keychain::setTool(const std::string& program) {
    std::lock_guard guard(lock);
    tool = program;
    cache.clear();
}

std::optional<std::string> Keychain::password(const std::string& service) {
    std::lock_guard guard(lock);
    if (auto it = cache.find(service); it != cache.end())
        return it->second;
    QProcess process;
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(QString::fromStdString(tool),
                  {"lookup", "service", QString::fromStdString(service)});
    if (!process.waitForStarted(5000))
        return std::nullopt;
    // A locked keyring may ask the user; do not wait for ever.
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished(1000);
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    QString out = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    if (out.isEmpty())
        return std::nullopt;
    cache[service] = out.toStdString();
    return cache[service];
}

} // namespace talvoro
