#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QRegularExpression>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <xcb/xcb.h>

#include "session/session_probe.h"
#include "session/wayland_globals.h"

namespace talvoro {

namespace {

// The portal may have to be started by the bus, which takes it several seconds on a loaded
// machine (a program started at login comes before it); past this it counts as not answering.
constexpr int busTimeoutMs = 20000;
const QString portalService = "org.freedesktop.portal.Desktop";
const QString portalPath = "/org/freedesktop/portal/desktop";

QDBusMessage callBus(const QString& service, const QString& path, const QString& interface,
                     const QString& method, const QVariantList& arguments = {}) {
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
    call.setArguments(arguments);
    return QDBusConnection::sessionBus().call(call, QDBus::Block, busTimeoutMs);
}

std::optional<bool> openX11Display() {
    std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> connection(
        xcb_connect(nullptr, nullptr), xcb_disconnect);
    if (xcb_connection_has_error(connection.get()))
        return std::nullopt;
    std::unique_ptr<xcb_query_extension_reply_t, decltype(&std::free)> reply(
        xcb_query_extension_reply(connection.get(),
                                  xcb_query_extension(connection.get(), 5, "XTEST"), nullptr),
        std::free);
    return reply && reply->present;
}

class SystemSessionSources : public SessionSources {
public:
    std::optional<std::string> env(const std::string& name) override {
        const char* value = std::getenv(name.c_str());
        if (value == nullptr || *value == '\0')
            return std::nullopt;
        return std::string(value);
    }

    std::optional<InterfaceVersions> waylandGlobals() override { return readWaylandGlobals(); }

    std::optional<bool> x11Display() override {
        if (!env("DISPLAY"))
            return std::nullopt;
        return openX11Display();
    }

    std::optional<InterfaceVersions> portalInterfaces() override {
        const QDBusMessage introspection =
            callBus(portalService, portalPath, "org.freedesktop.DBus.Introspectable", "Introspect");
        if (introspection.type() != QDBusMessage::ReplyMessage)
            return std::nullopt;
        const QString xml = introspection.arguments().value(0).toString();
        static const QRegularExpression named(
            R"(<interface name="org\.freedesktop\.(portal\.|host\.portal\.)(\w+)\")");
        InterfaceVersions interfaces;
        for (const auto& match : named.globalMatch(xml)) {
            const QString full = "org.freedesktop." + match.captured(1) + match.captured(2);
            const QDBusMessage version =
                callBus(portalService, portalPath, "org.freedesktop.DBus.Properties", "Get",
                        {full, QString("version")});
            const std::string key = (match.captured(1) == "host.portal." ? "host." : "") +
                                    match.captured(2).toStdString();
            interfaces[key] =
                version.type() == QDBusMessage::ReplyMessage
                    ? version.arguments().value(0).value<QDBusVariant>().variant().toUInt()
                    : 0;
        }
        return interfaces;
    }

    bool atspiBus() override {
        const QDBusMessage reply =
            callBus("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress");
        return reply.type() == QDBusMessage::ReplyMessage &&
               !reply.arguments().value(0).toString().isEmpty();
    }

    bool uinputWritable() override { return ::access("/dev/uinput", W_OK) == 0; }
};

} // namespace

std::unique_ptr<SessionSources> makeSystemSessionSources() {
    return std::make_unique<SystemSessionSources>();
}

bool preferXWayland() {
    SystemSessionSources sources;
    const bool wayland =
        sources.env("WAYLAND_DISPLAY") || sources.env("XDG_SESSION_TYPE") == "wayland";
    return wayland && sources.x11Display().has_value();
}

} // namespace talvoro
