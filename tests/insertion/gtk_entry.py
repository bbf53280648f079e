# A GTK 3 window with one focused entry, for the insertion tests: every change of the entry's
# text is written to the file named first; the file named second appears once it is shown.
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import GLib, Gtk  # noqa: E402

out, ready = sys.argv[1], sys.argv[2]
window = Gtk.Window(title="gtk target")
entry = Gtk.Entry()
window.add(entry)


def changed(field):
    with open(out, "w", encoding="utf-8") as file:
        file.write(field.get_text())


entry.connect("changed", changed)
window.connect("destroy", Gtk.main_quit)
window.show_all()
entry.grab_focus()
GLib.timeout_add(200, lambda: open(ready, "w").close())
Gtk.main()
