#include "insertion/uinput_paste_keystroke.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "base/held_hotkey.h"
#include "insertion/evdev_chord.h"
#include "insertion/paster_failure.h"

namespace talvoro {

namespace {

bool writeEvent(int fd, std::uint16_t type, std::uint16_t code, std::int32_t value) {
    input_event event{};
    event.type = type;
    event.code = code;
    event.value = value;
    ssize_t n;
    do
        n = ::write(fd, &event, sizeof event);
    while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(sizeof event);
}

} // namespace

UinputPasteKeystroke::UinputPasteKeystroke(int fd) : fd(fd) {}

UinputPasteKeystroke::~UinputPasteKeystroke() {
    if (fd >= 0) {
        ::ioctl(fd, UI_DEV_DESTROY);
        ::close(fd);
    }
}

void UinputPasteKeystroke::waitForKeysReleased() {
    HeldHotkey::shared().waitForRelease(std::chrono::seconds(1));
}

void UinputPasteKeystroke::press(PasteShortcut shortcut) {
    for (evdev::KeyStep step : evdev::chord(shortcut))
        if (!writeEvent(fd, EV_KEY, static_cast<std::uint16_t>(step.code), step.pressed ? 1 : 0) ||
            !writeEvent(fd, EV_SYN, SYN_REPORT, 0))
            throw Paster::Failure::eventCreationFailed();
}

std::unique_ptr<PasteKeystroke> makeUinputPasteKeystroke(const std::string& node) {
    const int fd = ::open(node.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT)
        throw Paster::Failure::refused("нет " + node +
                                       " (модуль ядра uinput не загружен) — виртуальная клавиатура "
                                       "не создаётся");
    if (fd < 0)
        throw Paster::Failure::refused(
            "нет доступа к " + node +
            " — его даёт группа talvoro-uinput: пусть администратор заведёт её и добавит тебя "
            "(sudo groupadd --system talvoro-uinput; sudo usermod -aG talvoro-uinput $USER), "
            "затем войди в систему заново");
    auto keystroke = std::make_unique<UinputPasteKeystroke>(fd);
    bool made = ::ioctl(fd, UI_SET_EVBIT, EV_KEY) == 0 && ::ioctl(fd, UI_SET_EVBIT, EV_SYN) == 0;
    for (std::uint32_t key : {evdev::leftCtrl, evdev::leftShift, evdev::v, evdev::insert})
        made = made && ::ioctl(fd, UI_SET_KEYBIT, key) == 0;
    uinput_setup setup{};
    setup.id.bustype = BUS_VIRTUAL;
    std::strncpy(setup.name, "Talvoro paste keyboard", UINPUT_MAX_NAME_SIZE - 1);
    made = made && ::ioctl(fd, UI_DEV_SETUP, &setup) == 0 && ::ioctl(fd, UI_DEV_CREATE) == 0;
    if (!made)
        throw Paster::Failure::refused(
            node + " не создал виртуальную клавиатуру: " + std::strerror(errno));
    return keystroke;
}

} // namespace talvoro
