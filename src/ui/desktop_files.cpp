#include "ui/desktop_files.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>
#include <exception>

#include "cleanup/name_dict.h"

namespace talvoro {

void revealInFileManager(const std::string& path) {
    const QUrl file = QUrl::fromLocalFile(QString::fromStdString(path));
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1",
                                                       "/org/freedesktop/FileManager1",
                                                       "org.freedesktop.FileManager1", "ShowItems");
    call << QStringList{file.toString()} << QString();
    // Not waited for: a file manager that is slow to start must not hold the caller's thread.
    // Owned by the application, so that one still waiting when it quits goes with it.
    auto* answer = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, 3000),
                                               QCoreApplication::instance());
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(QString::fromStdString(path)).absolutePath());
    QObject::connect(answer, &QDBusPendingCallWatcher::finished, answer,
                     [folder](QDBusPendingCallWatcher* call) {
                         if (call->isError())
                             QDesktopServices::openUrl(folder);
                         call->deleteLater();
                     });
}

bool ensureDictionaryFile(const std::string& path) {
    try {
        NameDict::ensure(path);
    } catch (const std::exception&) {
        return false;
    }
    return QFileInfo::exists(QString::fromStdString(path));
}

} // namespace talvoro
