#include "base/portal_connection.h"

#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QEventLoop>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <optional>

namespace talvoro::portal {

namespace {

constexpr char requestInterface[] = "org.freedesktop.portal.Request";

std::atomic<unsigned> connectionCount{0};

// Receives one Response on the thread that waits for it.
class ResponseWaiter : public QObject {
    Q_OBJECT
public:
    std::optional<Response> response;
    QEventLoop loop;

public slots:
    void onResponse(uint code, const QVariantMap& results) {
        response = Response{code, results};
        loop.quit();
    }
};

QString error(const QString& what, const QDBusError& reason) {
    return what + ": " + reason.message();
}

} // namespace

Connection::Connection()
    : name(QStringLiteral("talvoro-portal-%1").arg(++connectionCount)),
      connection(QDBusConnection::connectToBus(QDBusConnection::SessionBus, name)) {
    if (!connection.isConnected()) {
        QDBusConnection::disconnectFromBus(name);
        throw Error("нет сеансовой шины D-Bus — порталы рабочего стола недоступны");
    }
}

Connection::~Connection() {
    QDBusConnection::disconnectFromBus(name);
}

unsigned Connection::version(const QString& interface) {
    QDBusMessage get = QDBusMessage::createMethodCall(service, objectPath,
                                                      "org.freedesktop.DBus.Properties", "Get");
    get << interface << QStringLiteral("version");
    QDBusReply<QDBusVariant> reply = connection.call(get, QDBus::Block, 5000);
    return reply.isValid() ? reply.value().variant().toUInt() : 0;
}

bool Connection::registerApplication(const QString& appId) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        service, objectPath, "org.freedesktop.host.portal.Registry", "Register");
    call << appId << QVariantMap();
    return connection.call(call, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
}

QString Connection::token() {
    return QStringLiteral("talvoro%1").arg(++issued);
}

Response Connection::request(const QString& interface, const QString& method,
                             QVariantList arguments, std::chrono::milliseconds timeout) {
    const QString handleToken = token();
    QVariantMap options = arguments.isEmpty() ? QVariantMap() : arguments.takeLast().toMap();
    options.insert("handle_token", handleToken);
    arguments.append(options);

    // The Request's path is known before the call, so its Response cannot slip past us.
    QString sender = connection.baseService().mid(1).replace('.', '_');
    QString expected = QStringLiteral("%1/request/%2/%3").arg(objectPath, sender, handleToken);
    ResponseWaiter waiter;
    auto listen = [&](const QString& path) {
        return connection.connect(service, path, requestInterface, "Response", &waiter,
                                  SLOT(onResponse(uint, QVariantMap)));
    };
    auto unlisten = [&](const QString& path) {
        connection.disconnect(service, path, requestInterface, "Response", &waiter,
                              SLOT(onResponse(uint, QVariantMap)));
    };
    listen(expected);

    QDBusMessage call = QDBusMessage::createMethodCall(service, objectPath, interface, method);
    call.setArguments(arguments);
    QDBusMessage reply = connection.call(call, QDBus::Block, 10000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        unlisten(expected);
        throw Error(error("портал не принял " + method, QDBusError(reply)).toStdString());
    }
    const QString handle = qvariant_cast<QDBusObjectPath>(reply.arguments().first()).path();
    if (handle != expected) { // portals before 0.9 chose the path themselves
        unlisten(expected);
        listen(handle);
    }
    if (!waiter.response) {
        QTimer::singleShot(timeout, &waiter.loop, &QEventLoop::quit);
        waiter.loop.exec();
    }
    unlisten(handle);
    if (!waiter.response)
        throw Error(("портал не ответил на " + method).toStdString());
    return *waiter.response;
}

} // namespace talvoro::portal

#include "portal_connection.moc"
