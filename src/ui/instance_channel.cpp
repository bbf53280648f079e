#include "ui/instance_channel.h"

#include <QDir>
#include <QLocalSocket>
#include <QPointer>
#include <QStandardPaths>
#include <unistd.h>

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
    QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty())
        runtime = QDir::temp().filePath("talvoro-" + QString::number(::getuid()));
    QDir().mkpath(runtime);
    return runtime.toStdString();
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
