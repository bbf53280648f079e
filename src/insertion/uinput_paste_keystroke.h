#pragma once

#include <memory>
#include <string>

#include "insertion/paste_keystroke.h"

namespace talvoro {

// The paste shortcut from a virtual keyboard of our own made through /dev/uinput: the kernel
// hands it to every compositor like a real one, by key code.
class UinputPasteKeystroke final : public PasteKeystroke {
public:
    // Takes the descriptor of a created device (or, in tests, anything that reads the events).
    explicit UinputPasteKeystroke(int fd);
    ~UinputPasteKeystroke() override;
    UinputPasteKeystroke(const UinputPasteKeystroke&) = delete;
    UinputPasteKeystroke& operator=(const UinputPasteKeystroke&) = delete;

    bool available() override { return fd >= 0; }
    // The device cannot read the real keyboards' state, nor lift their keys (see HeldHotkey).
    void waitForKeysReleased() override;
    // Each key change followed by a report, so the receiver sees four separate moments.
    void press(PasteShortcut shortcut) override;

private:
    const int fd;
};

// Creates the virtual keyboard. Throws Paster::Failure(noPermission) saying what is missing:
// the device node, or the right to open it (the udev rule shipped with the package).
std::unique_ptr<PasteKeystroke> makeUinputPasteKeystroke(const std::string& node = "/dev/uinput");

} // namespace talvoro
