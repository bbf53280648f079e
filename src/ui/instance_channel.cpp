#include "ui/instance_channel.h"

#include <QDir>
#include <QLocalSocket>
#include <QPointer>
#include <QStandardPaths>
#include <sys/stat.h>
#include <unistd.h>

#include "base/command_line.h"

namespace talvoro {

namespace {

QString socketPath() {
    return QDir(QString::fromStdString(InstanceChannel::folder())).filePath("talvoro.socket");
}

QString lockPath() {
    return QDir(QString::fromStdString(InstanceChannel::folder())).filePath("talvoro.lock");
}

} // namespace

std::string InstanceChannel::folder() {
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty()) {
        QDir().mkpath(runtime);
        return runtime.toStdString();
    }
    // Anyone may make a folder of that name in /tmp first and so hear or answer the commands:
    // only a folder of ours, closed to everyone else, will do.
    const std::string shared =
        QDir::temp().filePath("talvoro-" + QString::number(::getuid())).toStdString();
    ::mkdir(shared.c_str(), 0700);
    struct stat info {};
    if (::lstat(shared.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::getuid() || (info.st_mode & 0077) != 0)
        fail("папка " + shared +
             " чужая или открыта другим — через неё с запущенной копией не говорю; удали её или "
             "задай XDG_RUNTIME_DIR");
    return shared;
}

std::unique_ptr<InstanceChannel> InstanceChannel::claim() {
    auto lock = std::make_unique<QLockFile>(lockPath());
    lock->setStaleLockTime(0); // a lock is stale only when its process is gone
    if (!lock->tryLock(0))
        return nullptr;
    std::unique_ptr<InstanceChannel> channel(new InstanceChannel(std::move(lock)));
    if (!channel->listen())
        return nullptr;
    return channel;
}

InstanceChannel::InstanceChannel(std::unique_ptr<QLockFile> lock) : lock_(std::move(lock)) {
    connect(&server_, &QLocalServer::newConnection, this, [this] { serve(); });
}

InstanceChannel::~InstanceChannel() {
    server_.close();
}

bool InstanceChannel::listen() {
    // Whoever held the lock before is gone; its socket file is left over.
    QLocalServer::removeServer(socketPath());
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    return server_.listen(socketPath());
}

void InstanceChannel::serve() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QPointer<QLocalSocket> guard(socket);
        connect(socket, &QLocalSocket::readyRead, this, [this, guard] {
            if (!guard || !guard->canReadLine())
                return;
            const std::string command = guard->readLine().trimmed().toStdString();
            const std::string answer = handler_ ? handler_(command) : "ok";
            if (guard) {
                guard->write(QByteArray::fromStdString(answer) + "\n");
                guard->flush();
                guard->disconnectFromServer();
            }
        });
    }
}

std::optional<std::string> InstanceChannel::send(const std::string& command, int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(timeoutMs))
        return std::nullopt;
    socket.write(QByteArray::fromStdString(command) + "\n");
    socket.flush();
    while (!socket.canReadLine())
        if (!socket.waitForReadyRead(timeoutMs))
            return std::nullopt;
    return socket.readLine().trimmed().toStdString();
}

} // namespace talvoro
