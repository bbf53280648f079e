# A native GTK 4 window with one focused entry for the desktop cases. Every change of the entry's
# text is written to the file named first; the file named second appears once the window has the
# focus. On the session bus (org.talvoro.DeskField) it sets and reads the clipboard as any
# application does: a text, a PNG image, and what is there now.
import sys

import gi

gi.require_version("Gtk", "4.0")
gi.require_version("Gdk", "4.0")
from gi.repository import Gdk, Gio, GLib, GObject, Gtk  # noqa: E402

out, ready = sys.argv[1], sys.argv[2]
INTERFACE = """<node><interface name="org.talvoro.DeskField">
<method name="SetText"><arg type="s" direction="in"/></method>
<method name="SetImage"><arg type="ay" direction="in"/></method>
<method name="Read"><arg type="as" direction="out"/><arg type="s" direction="out"/>
<arg type="ay" direction="out"/></method>
<method name="Clear"/>
</interface></node>"""


def activate(app):
    window = Gtk.ApplicationWindow(application=app, title="gtk4 field")
    entry = Gtk.Entry()
    window.set_child(entry)
    entry.connect("changed", lambda field: open(out, "w", encoding="utf-8").write(field.get_text()))

    def focused(*_):
        if window.is_active():
            open(ready, "w").close()

    window.connect("notify::is-active", focused)
    window.present()
    entry.grab_focus()
    clipboard = window.get_display().get_clipboard()

    def call(connection, sender, path, interface, method, args, invocation):
        if method == "SetText":
            clipboard.set(args.unpack()[0])
            invocation.return_value(None)
        elif method == "SetImage":
            # As a texture, not its subtype: GDK's image formats are registered for the former.
            texture = Gdk.Texture.new_from_bytes(GLib.Bytes.new(bytes(args.unpack()[0])))
            value = GObject.Value(Gdk.Texture, texture)
            clipboard.set_content(Gdk.ContentProvider.new_for_value(value))
            invocation.return_value(None)
        elif method == "Clear":
            entry.set_text("")
            invocation.return_value(None)
        else:
            read(invocation)

    def read(invocation):
        mimes = list(clipboard.get_formats().get_mime_types() or [])
        if any(mime.startswith("image/") for mime in mimes):
            def texture(source, result):
                try:
                    png = source.read_texture_finish(result).save_to_png_bytes().get_data()
                except GLib.Error as error:
                    mimes.append("unreadable image: " + error.message)
                    png = b""
                invocation.return_value(GLib.Variant("(assay)", (mimes, "", png)))
            clipboard.read_texture_async(None, texture)
        elif mimes:
            def text(source, result):
                try:
                    plain = source.read_text_finish(result) or ""
                except GLib.Error as error:
                    mimes.append("unreadable text: " + error.message)
                    plain = ""
                invocation.return_value(GLib.Variant("(assay)", (mimes, plain, b"")))
            clipboard.read_text_async(None, text)
        else:
            invocation.return_value(GLib.Variant("(assay)", (mimes, "", b"")))

    node = Gio.DBusNodeInfo.new_for_xml(INTERFACE)
    app.get_dbus_connection().register_object("/field", node.interfaces[0], call)


app = Gtk.Application(application_id="org.talvoro.DeskField", flags=Gio.ApplicationFlags.DEFAULT_FLAGS)
app.connect("activate", activate)
app.run([])
