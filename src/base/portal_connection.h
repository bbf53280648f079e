#pragma once

#include <QDBusConnection>
#include <QString>
#include <QVariantList>
#include <QVariantMap>
#include <chrono>
#include <stdexcept>

namespace talvoro::portal {

inline constexpr char service[] = "org.freedesktop.portal.Desktop";
inline constexpr char objectPath[] = "/org/freedesktop/portal/desktop";
// Our application id: the name of the installed desktop entry (org.talvoro.Talvoro.desktop),
// which a portal looks up when we register. It must be a reverse-DNS name: GNOME's shortcut
// dialog (Settings 48.3+) refuses any other without a word, and the portal answers "refused".
inline constexpr char applicationId[] = "org.talvoro.Talvoro";

// The desktop portal refused, failed or did not answer; what() is the sentence the user sees.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// How a portal Request ended: 0 granted, 1 cancelled by the user, 2 refused or failed.
struct Response {
    enum Code : unsigned { granted = 0, cancelled = 1, ended = 2 };
    unsigned code = ended;
    QVariantMap results;
};

// A private connection to the session bus for the desktop portal. A portal session lives as long
// as the connection that made it, so each user of a session keeps a connection of its own.
// Calls block the calling thread and run a local event loop there while they wait for an
// answer, so any thread may make them (one at a time).
class Connection {
public:
    // Throws Error when there is no session bus.
    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    QDBusConnection& bus() { return connection; }

    // The `version` property of a portal interface; 0 when the portal lacks the interface.
    unsigned version(const QString& interface);

    // Tells a portal that has the host Registry (1.19 and newer) our application id, which must
    // name our desktop entry; older portals take it from the systemd unit. False where the
    // portal has no Registry.
    bool registerApplication(const QString& appId);

    // Calls a method that answers through a Request object and waits for its Response. The last
    // argument is the options map; a fresh handle_token is put into it. Throws Error when the
    // call fails or no Response comes within `timeout`.
    Response request(const QString& interface, const QString& method, QVariantList arguments,
                     std::chrono::milliseconds timeout);

    // A token for handle_token or session_handle_token, unique within this connection.
    QString token();

private:
    QString name;
    QDBusConnection connection;
    unsigned issued = 0; // used by the thread that holds the connection
};

} // namespace talvoro::portal
