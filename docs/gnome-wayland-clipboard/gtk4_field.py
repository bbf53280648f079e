# A native GTK 4 window (GDK_BACKEND=wayland) with one focused entry. Once a second it appends
# to the log whether it has the focus and what the entry holds; it never reads the clipboard
# by itself, so every clipboard request comes from a paste.
import sys

import gi

gi.require_version("Gtk", "4.0")
from gi.repository import Gio, GLib, Gtk  # noqa: E402

log = open(sys.argv[1], "a", buffering=1)
app = Gtk.Application(application_id="org.example.Field",
                      flags=Gio.ApplicationFlags.NON_UNIQUE)


def activate(app):
    window = Gtk.ApplicationWindow(application=app, title="field")
    entry = Gtk.Entry()
    window.set_child(entry)
    window.present()
    entry.grab_focus()

    def tick():
        log.write(f"active={window.is_active()} entry={entry.get_text()!r}\n")
        return True

    GLib.timeout_add(1000, tick)


app.connect("activate", activate)
app.run([])
