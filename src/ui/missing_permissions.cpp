#include "ui/missing_permissions.h"

#include "audio/mic.h"
#include "hotkey/hotkey_tap.h"
#include "insertion/paster.h"

namespace talvoro {

std::string MissingPermissions::text() const {
    std::string out;
    auto add = [&](bool missing, const char* name) {
        if (missing)
            out += (out.empty() ? "" : ", ") + std::string(name);
    };
    add(microphone, "микрофон");
    add(inputMonitoring, "мониторинг ввода");
    add(accessibility, "универсальный доступ");
    return out;
}

MissingPermissions MissingPermissions::check() {
    MissingPermissions missing;
    missing.microphone = Mic::authorizationStatus() != Mic::Authorization::authorized;
    missing.inputMonitoring = !HotkeyTap::permissionGranted();
    missing.accessibility = !Paster::permissionGranted();
    return missing;
}

} // namespace talvoro
