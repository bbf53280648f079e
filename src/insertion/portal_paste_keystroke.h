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
// by key code. The session starts at the first press, when the desktop asks the user once;
// where the portal keeps permissions (version 2 and newer) its restore token is kept in a file
// so later starts of the program are not asked again.
class PortalPasteKeystroke final : public PasteKeystroke {
public:
    explicit PortalPasteKeystroke(std::filesystem::path restoreTokenFile);
    ~PortalPasteKeystroke() override;

    // The portal has RemoteDesktop.
    bool available() override;
    // The portal cannot tell which keys are held; the hotkey's release has come before.
    void waitForKeysReleased() override {}
    // Throws Paster::Failure(noPermission) with the desktop's refusal in words.
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
    void saveToken(const QString& token);

    const std::filesystem::path tokenFile;
    std::mutex lock;
    std::unique_ptr<portal::Connection> connection; // guarded by lock
    std::optional<QDBusObjectPath> session;         // guarded by lock; set once started
};

std::unique_ptr<PortalPasteKeystroke>
makePortalPasteKeystroke(std::filesystem::path restoreTokenFile);

} // namespace talvoro
