# Shared pieces of the desktop cases, run inside the Debian 13 root as the session's account:
# keys pressed as a person presses them, and small helpers the case drivers share.
import time

from gi.repository import Gio, GLib

# Linux input key codes (linux/input-event-codes.h) by name.
KEY = {"esc": 1, "tab": 15, "enter": 28, "ctrl": 29, "shift": 42, "alt": 56, "space": 57,
       "super": 125, "f10": 68}
for row, first in (("qwertyuiop", 16), ("asdfghjkl", 30), ("zxcvbnm", 44)):
    KEY.update({letter: first + index for index, letter in enumerate(row)})


def session_bus():
    return Gio.bus_get_sync(Gio.BusType.SESSION)


class MutterKeys:
    """Keys through mutter's remote-desktop API: the shell takes them as a keyboard's, so global
    shortcuts fire and the focused window gets the rest."""

    def __init__(self, bus=None):
        self.bus = bus or session_bus()
        path = self._call("/org/gnome/Mutter/RemoteDesktop", "org.gnome.Mutter.RemoteDesktop",
                          "CreateSession", None)[0]
        self.session = path
        self._call(path, "org.gnome.Mutter.RemoteDesktop.Session", "Start", None)
        # A headless shell's seat has a keyboard only while such a session lives (windows lose
        # the focus without it), and the first key of a new keyboard only wakes it up.
        time.sleep(0.5)
        self.chord("shift")

    def _call(self, path, interface, method, args):
        return self.bus.call_sync("org.gnome.Mutter.RemoteDesktop", path, interface, method, args,
                                  None, 0, 10000, None).unpack()

    def key(self, name, down):
        self._call(self.session, "org.gnome.Mutter.RemoteDesktop.Session",
                   "NotifyKeyboardKeycode", GLib.Variant("(ub)", (KEY[name], down)))

    def chord(self, *names, hold=0.05):
        for name in names:
            self.key(name, True)
        time.sleep(hold)
        for name in reversed(names):
            self.key(name, False)
        time.sleep(0.05)
