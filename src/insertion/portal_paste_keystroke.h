#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>

#include <QDBusObjectPath>

#include "insertion/paste_keystroke.h"

namespace talvoro {

namespace portal {
class Connection;
}

// The paste shortcut through the keyboard of the desktop's RemoteDesktop portal (GNOME, KDE),
// by key code. The session starts in prepare() before the first paste touches the clipboard,
// when the desktop asks the user once; where the portal keeps permissions (version 2 and newer)
// its restore token is kept in a file so later starts of the program are not asked again.
class PortalPasteKeystroke final : public PasteKeystroke {
public:
    explicit PortalPasteKeystroke(std::filesystem::path restoreTokenFile);
    ~PortalPasteKeystroke() override;

    // The portal has RemoteDesktop.
    bool available() override;
    // Starts the session, waiting up to a few minutes for the user to answer the desktop's
    // dialog. Throws Paster::Failure(noPermission) with the refusal in words and what to do.
    void prepare() override;
    void waitForKeysReleased() override;
    // Throws Paster::Failure(eventCreationFailed) without a session (prepare() failed, or the
    // desktop ended it: the next prepare() starts a new one).
    void press(PasteShortcut shortcut) override;

    // A RemoteDesktop portal of this version keeps no permission between runs (before version
    // 2; xdg-desktop-portal 1.16), so the desktop asks at every start of the program.
    static bool approvalEachStart(unsigned remoteDesktopVersion) {
        return remoteDesktopVersion < 2;
    }
    bool approvalEachStart();

private:
    unsigned version();  // the portal's RemoteDesktop version, 0 without it; lock held
    void startSession(); // lock held
    void closeSession(const QDBusObjectPath& handle);
    void saveToken(const QString& token);

    const std::filesystem::path tokenFile;
    std::mutex lock;
    std::unique_ptr<portal::Connection> connection; // guarded by lock
    std::optional<QDBusObjectPath> session;         // guarded by lock; set once started
};

std::unique_ptr<PortalPasteKeystroke>
makePortalPasteKeystroke(std::filesystem::path restoreTokenFile);

} // namespace talvoro
