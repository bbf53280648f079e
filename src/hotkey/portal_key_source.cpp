#include "hotkey/portal_key_source.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QEventLoop>
#include <QObject>
#include <algorithm>
#include <mutex>
#include <xkbcommon/xkbcommon.h>

#include "base/held_hotkey.h"
#include "base/portal_connection.h"
#include "hotkey/hotkey_tap.h"
#include "hotkey/x11_key_symbols.h"

namespace talvoro {

namespace {

constexpr char shortcutsInterface[] = "org.freedesktop.portal.GlobalShortcuts";
constexpr std::chrono::seconds answerTimeout{30};
// Binding may wait for the user in a dialog of the desktop.
constexpr std::chrono::minutes bindTimeout{5};

struct Shortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& out, const Shortcut& shortcut) {
    out.beginStructure();
    out << shortcut.id << shortcut.properties;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, Shortcut& shortcut) {
    in.beginStructure();
    in >> shortcut.id >> shortcut.properties;
    in.endStructure();
    return in;
}

} // namespace

} // namespace talvoro

Q_DECLARE_METATYPE(talvoro::Shortcut)

namespace talvoro {

namespace {

QList<Shortcut> shortcutsIn(const portal::Response& response) {
    QList<Shortcut> shortcuts;
    const QVariant value = response.results.value("shortcuts");
    if (value.canConvert<QDBusArgument>())
        qvariant_cast<QDBusArgument>(value) >> shortcuts;
    return shortcuts;
}

// Turns the portal's press and release signals of our shortcut into key events.
class ShortcutSignals : public QObject {
    Q_OBJECT
public:
    explicit ShortcutSignals(HotkeyBinding binding) : binding(binding) {}

    KeyEventSink* sink = nullptr; // set by run(), on this object's thread
    QString id;                   // the shortcut the desktop holds for us

public slots:
    void activated(const QDBusObjectPath&, const QString& shortcut, qulonglong,
                   const QVariantMap&) {
        deliver(shortcut, KeyEvent::Type::keyDown);
    }
    void deactivated(const QDBusObjectPath&, const QString& shortcut, qulonglong,
                     const QVariantMap&) {
        deliver(shortcut, KeyEvent::Type::keyUp);
    }

private:
    void deliver(const QString& shortcut, KeyEvent::Type type) {
        if (shortcut != id || sink == nullptr)
            return;
        if (type == KeyEvent::Type::keyDown)
            HeldHotkey::shared().pressed();
        else
            HeldHotkey::shared().released();
        KeyEvent event;
        event.type = type;
        // GNOME and KWin activate the shortcut again on every key repeat while it is held.
        event.autoRepeat = type == KeyEvent::Type::keyDown && held;
        held = type == KeyEvent::Type::keyDown;
        event.keyCode = binding.keyCode;
        event.flags = binding.modifiers;
        event.timestamp = monotonicSeconds(); // the portal's timestamps have no known clock
        sink->handle(event);
    }

    const HotkeyBinding binding;
    bool held = false; // activated and not yet deactivated
};

class PortalKeySource final : public KeyEventSource {
public:
    explicit PortalKeySource(PortalShortcut shortcut) : shortcut(std::move(shortcut)) {}

    void open(const HotkeyBinding& binding) override {
        qDBusRegisterMetaType<Shortcut>();
        qDBusRegisterMetaType<QList<Shortcut>>();
        try {
            connect(binding);
        } catch (...) {
            // Dropped here, on the thread they belong to; run() will not come.
            receiver.reset();
            connection.reset();
            throw;
        }
    }

    void run(KeyEventSink& sink) override {
        {
            std::lock_guard guard(lock);
            if (!stopped) {
                receiver->sink = &sink;
                loop = std::make_unique<QEventLoop>();
            }
        }
        if (loop)
            loop->exec();
        std::lock_guard guard(lock);
        loop.reset();
        receiver.reset();
        connection.reset(); // the portal closes the session with our connection
    }

    void stop() override {
        std::lock_guard guard(lock);
        stopped = true;
        if (loop)
            QMetaObject::invokeMethod(loop.get(), &QEventLoop::quit, Qt::QueuedConnection);
    }

    void reenable() override {}

private:
    void connect(const HotkeyBinding& binding) {
        try {
            connection = std::make_unique<portal::Connection>();
            connection->registerApplication(portal::applicationId);
            if (connection->version(shortcutsInterface) == 0)
                throw HotkeyTap::Failure::refused(
                    "в этом сеансе нет портала глобальных сочетаний — назначь сочетание на "
                    "«talvoro toggle» в настройках рабочего стола");
            session = createSession(binding);
            listen(binding);
            const QString id = idFor(binding);
            const QStringList held = heldShortcuts();
            if (held.contains(id)) {
                receiver->id = id; // bound on an earlier run: binding again would ask again
                return;
            }
            // KDE Plasma lets go of a session's shortcuts when the session closes, even those a
            // later session holds: each session here is closed before the next one is made.
            if (!held.isEmpty() || (shortcut.heldByDesktop && shortcut.heldByDesktop(binding))) {
                closeSession(); // our shortcut for another combination has the keys
                throw HotkeyTap::Failure::conflict(binding);
            }
            bind(id, binding);
            if (!shortcut.checkedFromNewSession) {
                receiver->id = id;
                return;
            }
            closeSession();
            session = createSession(binding);
            if (!heldShortcuts().contains(id)) {
                closeSession();
                throw HotkeyTap::Failure::conflict(binding);
            }
            receiver->id = id;
        } catch (const portal::Error& e) {
            throw HotkeyTap::Failure::refused(e.what());
        }
    }

    // The default combination keeps the plain id; another gets one of its own, since a desktop
    // that kept a shortcut without keys ignores a new preferred trigger for it.
    QString idFor(const HotkeyBinding& binding) const {
        QString id = QString::fromStdString(shortcut.id);
        if (binding != HotkeyBinding::defaultBinding())
            id += "-" + QString::fromStdString(portalTrigger(binding));
        return id;
    }

    QDBusObjectPath createSession(const HotkeyBinding& binding) {
        QVariantMap options{{"session_handle_token", connection->token()}};
        portal::Response created =
            connection->request(shortcutsInterface, "CreateSession", {options}, answerTimeout);
        if (created.code != portal::Response::granted)
            throw HotkeyTap::Failure::refused(
                "рабочий стол не открыл сеанс глобальных сочетаний — сочетание " +
                binding.description() +
                " не работает; назначь его на «talvoro toggle» в "
                "настройках рабочего стола");
        // Older portals give the handle as a string, newer ones as an object path.
        const QVariant handle = created.results.value("session_handle");
        return handle.canConvert<QDBusObjectPath>()
                   ? QDBusObjectPath(qvariant_cast<QDBusObjectPath>(handle).path())
                   : QDBusObjectPath(handle.toString());
    }

    void closeSession() {
        connection->bus().call(QDBusMessage::createMethodCall(
            portal::service, session.path(), "org.freedesktop.portal.Session", "Close"));
    }

    void listen(const HotkeyBinding& binding) {
        receiver = std::make_unique<ShortcutSignals>(binding);
        const char* handlers[] = {
            SLOT(activated(QDBusObjectPath, QString, qulonglong, QVariantMap)),
            SLOT(deactivated(QDBusObjectPath, QString, qulonglong, QVariantMap))};
        connection->bus().connect(portal::service, portal::objectPath, shortcutsInterface,
                                  "Activated", receiver.get(), handlers[0]);
        connection->bus().connect(portal::service, portal::objectPath, shortcutsInterface,
                                  "Deactivated", receiver.get(), handlers[1]);
    }

    // Our shortcuts to which the desktop gives keys; one listed without a trigger is dead.
    QStringList heldShortcuts() {
        portal::Response listed =
            connection->request(shortcutsInterface, "ListShortcuts",
                                {QVariant::fromValue(session), QVariantMap()}, answerTimeout);
        QStringList held;
        const QString ours = QString::fromStdString(shortcut.id);
        if (listed.code == portal::Response::granted)
            for (const Shortcut& known : shortcutsIn(listed))
                if ((known.id == ours || known.id.startsWith(ours + "-")) &&
                    !known.properties.value("trigger_description").toString().isEmpty())
                    held.append(known.id);
        return held;
    }

    void bind(const QString& id, const HotkeyBinding& binding) {
        QVariantMap properties{{"description", QString::fromStdString(shortcut.description)}};
        const std::string trigger = portalTrigger(binding);
        if (!trigger.empty())
            properties.insert("preferred_trigger", QString::fromStdString(trigger));
        QList<Shortcut> wanted{{id, properties}};
        portal::Response answer = connection->request(
            shortcutsInterface, "BindShortcuts",
            {QVariant::fromValue(session), QVariant::fromValue(wanted), QString(), QVariantMap()},
            bindTimeout);
        // GNOME 48's portal answers a granted binding with an arbitrary code, but lists it.
        if (std::ranges::any_of(shortcutsIn(answer),
                                [&](const Shortcut& known) { return known.id == id; }))
            return;
        if (answer.code == portal::Response::cancelled)
            throw HotkeyTap::Failure::refused("сочетание " + binding.description() +
                                              " не назначено: окно рабочего стола закрыли без "
                                              "согласия");
        if (answer.code != portal::Response::granted)
            throw HotkeyTap::Failure::refused("рабочий стол отказал в сочетании " +
                                              binding.description() +
                                              " — назначь его на «talvoro toggle» в настройках "
                                              "рабочего стола");
    }

    const PortalShortcut shortcut;
    // Made, used and dropped on the tap thread.
    std::unique_ptr<portal::Connection> connection;
    std::unique_ptr<ShortcutSignals> receiver;
    QDBusObjectPath session;

    std::mutex lock;
    bool stopped = false;             // guarded by lock
    std::unique_ptr<QEventLoop> loop; // guarded by lock; present while run() waits
};

} // namespace

std::unique_ptr<KeyEventSource> makePortalKeySource(PortalShortcut shortcut) {
    return std::make_unique<PortalKeySource>(std::move(shortcut));
}

std::string portalTrigger(const HotkeyBinding& binding) {
    std::optional<std::uint32_t> keysym = x11keys::keysymForKeyCode(binding.keyCode);
    char name[64] = {};
    if (!keysym || xkb_keysym_get_name(*keysym, name, sizeof name) <= 0)
        return {};
    std::string trigger;
    const std::pair<std::uint64_t, const char*> modifiers[] = {{HotkeyBinding::control, "CTRL"},
                                                               {HotkeyBinding::option, "ALT"},
                                                               {HotkeyBinding::shift, "SHIFT"},
                                                               {HotkeyBinding::command, "LOGO"}};
    for (auto [flag, word] : modifiers)
        if (binding.modifiers & flag)
            trigger += std::string(word) + "+";
    return trigger + name;
}

} // namespace talvoro

#include "portal_key_source.moc"
