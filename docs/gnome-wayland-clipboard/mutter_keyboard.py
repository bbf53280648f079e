# Keeps a session of Mutter's own RemoteDesktop D-Bus API, whose virtual keyboard gives the
# headless seat a keyboard (without one no window gets the focus), and presses the Linux key
# codes written to the file named on the command line ("29 47" = Ctrl+V), then removes it.
import os
import sys

from gi.repository import Gio, GLib

bus = Gio.bus_get_sync(Gio.BusType.SESSION)


def call(path, interface, method, args=None):
    return bus.call_sync("org.gnome.Mutter.RemoteDesktop", path, interface, method, args, None,
                         0, -1, None)


session = call("/org/gnome/Mutter/RemoteDesktop", "org.gnome.Mutter.RemoteDesktop",
               "CreateSession").unpack()[0]
call(session, "org.gnome.Mutter.RemoteDesktop.Session", "Start")


def keys(codes):
    for code, down in [(c, True) for c in codes] + [(c, False) for c in reversed(codes)]:
        call(session, "org.gnome.Mutter.RemoteDesktop.Session", "NotifyKeyboardKeycode",
             GLib.Variant("(ub)", (code, down)))


def poll():
    if os.path.exists(sys.argv[1]):
        codes = [int(w) for w in open(sys.argv[1]).read().split()]
        os.remove(sys.argv[1])
        keys(codes)
    return True


GLib.timeout_add(100, poll)
GLib.MainLoop().run()
