#include "ui/desktop_files.h"

#include <QDBusConnection>
#include <QDBusMessage>
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
    const QDBusMessage answer = QDBusConnection::sessionBus().call(call, QDBus::Block, 3000);
    if (answer.type() != QDBusMessage::ErrorMessage)
        return;
    QDesktopServices::openUrl(
        QUrl::fromLocalFile(QFileInfo(QString::fromStdString(path)).absolutePath()));
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
