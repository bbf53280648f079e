#include "insertion/portal_paste_keystroke.h"

#include <QDBusMessage>
#include <fcntl.h>
#include <fstream>
#include <unistd.h>

#include "base/held_hotkey.h"
#include "base/paths.h"
#include "base/portal_connection.h"
#include "insertion/evdev_chord.h"
#include "insertion/paster_failure.h"

namespace talvoro {

namespace {

constexpr char remoteDesktop[] = "org.freedesktop.portal.RemoteDesktop";
constexpr std::uint32_t keyboardDevice = 1;
constexpr std::uint32_t persistUntilRevoked = 2;
constexpr std::chrono::seconds answerTimeout{30};
// Start shows the desktop's dialog and waits for the user.
constexpr std::chrono::minutes startTimeout{3};

QDBusObjectPath sessionHandle(const QVariant& value) {
    return value.canConvert<QDBusObjectPath>() ? qvariant_cast<QDBusObjectPath>(value)
                                               : QDBusObjectPath(value.toString());
}

} // namespace

PortalPasteKeystroke::PortalPasteKeystroke(std::filesystem::path restoreTokenFile)
    : tokenFile(std::move(restoreTokenFile)) {}

PortalPasteKeystroke::~PortalPasteKeystroke() = default;

unsigned PortalPasteKeystroke::version() {
    if (!connection) {
        connection = std::make_unique<portal::Connection>();
        connection->registerApplication(
            portal::applicationId); // before any other call on the connection
    }
    return connection->version(remoteDesktop);
}

bool PortalPasteKeystroke::available() {
    std::lock_guard guard(lock);
    try {
        return version() > 0;
    } catch (const portal::Error&) {
        return false;
    }
}

bool PortalPasteKeystroke::approvalEachStart() {
    std::lock_guard guard(lock);
    try {
        return approvalEachStart(version());
    } catch (const portal::Error&) {
        return true;
    }
}

void PortalPasteKeystroke::saveToken(const QString& token) {
    std::error_code ec;
    std::filesystem::create_directories(tokenFile.parent_path(), ec);
    // The token lets this program press keys without asking again: the user's alone.
    const int fd = ::open(tokenFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    const std::string bytes = token.toStdString();
    [[maybe_unused]] ssize_t written = ::write(fd, bytes.data(), bytes.size());
    ::close(fd);
}

void PortalPasteKeystroke::closeSession(const QDBusObjectPath& handle) {
    // Takes a dialog still open off the screen; the portal ends the session either way.
    connection->bus().call(QDBusMessage::createMethodCall(portal::service, handle.path(),
                                                          "org.freedesktop.portal.Session",
                                                          "Close"),
                           QDBus::NoBlock);
}

void PortalPasteKeystroke::startSession() {
    const unsigned portalVersion = version();
    if (portalVersion == 0)
        throw Paster::Failure::refused(
            "в этом сеансе нет портала удалённого управления (RemoteDesktop) — нажать "
            "Ctrl+V за тебя нечем");
    portal::Response created = connection->request(
        remoteDesktop, "CreateSession",
        {QVariantMap{{"session_handle_token", connection->token()}}}, answerTimeout);
    if (created.code != portal::Response::granted)
        throw Paster::Failure::refused(
            "рабочий стол не открыл сеанс удалённого управления — вставка не сработает");
    const QDBusObjectPath handle = sessionHandle(created.results.value("session_handle"));

    QVariantMap devices{{"types", keyboardDevice}};
    if (!approvalEachStart(portalVersion)) {
        devices.insert("persist_mode", persistUntilRevoked);
        std::ifstream saved(tokenFile);
        std::string token;
        if (std::getline(saved, token) && !token.empty())
            devices.insert("restore_token", QString::fromStdString(token));
    }
    portal::Response started;
    try {
        portal::Response selected = connection->request(
            remoteDesktop, "SelectDevices", {QVariant::fromValue(handle), devices}, answerTimeout);
        if (selected.code != portal::Response::granted)
            throw Paster::Failure::refused(
                "рабочий стол не дал клавиатуру для вставки — вставка не сработает");
        try {
            started = connection->request(remoteDesktop, "Start",
                                          {QVariant::fromValue(handle), QString(), QVariantMap()},
                                          startTimeout);
        } catch (const portal::Error&) {
            throw Paster::Failure::refused(
                "окно рабочего стола с вопросом о клавиатуре осталось без ответа — начни новую "
                "диктовку и разреши в нём управление клавиатурой");
        }
    } catch (...) {
        closeSession(handle);
        throw;
    }
    if (started.code != portal::Response::granted ||
        !(started.results.value("devices").toUInt() & keyboardDevice)) {
        closeSession(handle);
        throw Paster::Failure::refused(
            started.code == portal::Response::cancelled
                ? "нажимать клавиши не разрешили в окне рабочего стола — начни новую диктовку и "
                  "разреши в нём управление клавиатурой"
                : "рабочий стол отказал в нажатии клавиш — проверь, что он даёт «Тальворо» "
                  "управлять клавиатурой (talvoro doctor), и начни новую диктовку");
    }
    if (started.results.contains("restore_token"))
        saveToken(started.results.value("restore_token").toString());
    session = handle;
}

void PortalPasteKeystroke::prepare() {
    std::lock_guard guard(lock);
    if (session)
        return;
    try {
        startSession();
    } catch (const portal::Error& e) {
        throw Paster::Failure::refused(e.what());
    }
}

// The portal cannot tell which keys are held, nor lift them (see HeldHotkey).
void PortalPasteKeystroke::waitForKeysReleased() {
    HeldHotkey::shared().waitForRelease(std::chrono::seconds(1));
}

void PortalPasteKeystroke::press(PasteShortcut shortcut) {
    std::lock_guard guard(lock);
    // Never started here: its dialog would run inside the timed paste (prepare() comes first).
    if (!session)
        throw Paster::Failure::eventCreationFailed();
    for (evdev::KeyStep step : evdev::chord(shortcut)) {
        QDBusMessage call = QDBusMessage::createMethodCall(portal::service, portal::objectPath,
                                                           remoteDesktop, "NotifyKeyboardKeycode");
        call << QVariant::fromValue(*session) << QVariantMap() << static_cast<int>(step.code)
             << static_cast<uint>(step.pressed ? 1 : 0);
        if (connection->bus().call(call, QDBus::Block, 5000).type() != QDBusMessage::ReplyMessage) {
            session.reset(); // the desktop ended the session: the next paste starts a new one
            throw Paster::Failure::eventCreationFailed();
        }
    }
}

std::unique_ptr<PortalPasteKeystroke>
makePortalPasteKeystroke(std::filesystem::path restoreTokenFile) {
    return std::make_unique<PortalPasteKeystroke>(std::move(restoreTokenFile));
}

std::unique_ptr<PortalPasteKeystroke> makePortalPasteKeystroke() {
    return makePortalPasteKeystroke(Paths::state("remote-desktop-token"));
}

} // namespace talvoro
