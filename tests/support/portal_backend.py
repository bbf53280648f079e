#!/usr/bin/python3
"""A desktop portal backend for tests: GlobalShortcuts and RemoteDesktop behind the real
xdg-desktop-portal frontend. Every call it gets is written as one line to the log file.

Usage: portal_backend.py BUS_NAME LOG_FILE

On /control, org.talvoro.TestControl lets a test press and release a bound shortcut
(Activate(s id), Deactivate(s id)), make the next sessions refused (Refuse()), answer
bindings as GNOME 48 does, listing them under the code 2 (AnswerBindsAsGnome48()), keep the next
RemoteDesktop Start waiting, as its dialog would, until AnswerStart(u code) answers it
(HoldStart()).
"""
import sys

from gi.repository import Gio, GLib

PATH = "/org/freedesktop/portal/desktop"
KEYBOARD = 1

XML = """<node>
<interface name="org.freedesktop.impl.portal.GlobalShortcuts">
 <method name="CreateSession"><arg type="o" direction="in"/><arg type="o" direction="in"/>
  <arg type="s" direction="in"/><arg type="a{sv}" direction="in"/>
  <arg type="u" direction="out"/><arg type="a{sv}" direction="out"/></method>
 <method name="BindShortcuts"><arg type="o" direction="in"/><arg type="o" direction="in"/>
  <arg type="a(sa{sv})" direction="in"/><arg type="s" direction="in"/>
  <arg type="a{sv}" direction="in"/>
  <arg type="u" direction="out"/><arg type="a{sv}" direction="out"/></method>
 <method name="ListShortcuts"><arg type="o" direction="in"/><arg type="o" direction="in"/>
  <arg type="u" direction="out"/><arg type="a{sv}" direction="out"/></method>
 <signal name="Activated"><arg type="o"/><arg type="s"/><arg type="t"/><arg type="a{sv}"/></signal>
 <signal name="Deactivated"><arg type="o"/><arg type="s"/><arg type="t"/><arg type="a{sv}"/></signal>
 <signal name="ShortcutsChanged"><arg type="o"/><arg type="a(sa{sv})"/></signal>
 <property name="version" type="u" access="read"/>
</interface>
<interface name="org.freedesktop.impl.portal.RemoteDesktop">
 <method name="CreateSession"><arg type="o" direction="in"/><arg type="o" direction="in"/>
  <arg type="s" direction="in"/><arg type="a{sv}" direction="in"/>
  <arg type="u" direction="out"/><arg type="a{sv}" direction="out"/></method>
 <method name="SelectDevices"><arg type="o" direction="in"/><arg type="o" direction="in"/>
  <arg type="s" direction="in"/><arg type="a{sv}" direction="in"/>
  <arg type="u" direction="out"/><arg type="a{sv}" direction="out"/></method>
 <method name="Start"><arg type="o" direction="in"/><arg type="o" direction="in"/>
  <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="a{sv}" direction="in"/>
  <arg type="u" direction="out"/><arg type="a{sv}" direction="out"/></method>
 <method name="NotifyKeyboardKeycode"><arg type="o" direction="in"/>
  <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/><arg type="u" direction="in"/>
 </method>
 <property name="AvailableDeviceTypes" type="u" access="read"/>
 <property name="version" type="u" access="read"/>
</interface>
</node>"""

SESSION_XML = """<node><interface name="org.freedesktop.impl.portal.Session">
 <method name="Close"/><signal name="Closed"/><property name="version" type="u" access="read"/>
</interface></node>"""

CONTROL_XML = """<node><interface name="org.talvoro.TestControl">
 <method name="Activate"><arg type="s" direction="in"/></method>
 <method name="Deactivate"><arg type="s" direction="in"/></method>
 <method name="Refuse"/>
 <method name="AnswerBindsAsGnome48"/>
 <method name="HoldStart"/>
 <method name="AnswerStart"><arg type="u" direction="in"/></method>
</interface></node>"""

bus_name, log_path = sys.argv[1], sys.argv[2]
bound = {}

log = open(log_path, "a", buffering=1)
state = {"session": "/", "sessions": {}, "refuse": False, "bind_code": 0, "hold": False,
         "held": None}


def note(*words):
    log.write(" ".join(str(w) for w in words) + "\n")


def shortcut_list():
    return GLib.Variant("a(sa{sv})", [
        (k, {"description": GLib.Variant("s", k), "trigger_description": GLib.Variant("s", t)})
        for k, t in bound.items()])


def answer(invocation, code, results):
    invocation.return_value(GLib.Variant("(ua{sv})", (code, results)))


def export_session(conn, path):
    info = Gio.DBusNodeInfo.new_for_xml(SESSION_XML).interfaces[0]

    def call(conn, sender, obj, iface, method, params, invocation):
        note("Session.Close")
        conn.unregister_object(state["sessions"].pop(obj))
        if state["session"] == obj and state["sessions"]:
            state["session"] = next(iter(state["sessions"]))
        invocation.return_value(None)

    state["sessions"][path] = conn.register_object(path, info, call, None, None)


def portal_call(conn, sender, path, iface, method, params, invocation):
    p = params.unpack()
    if iface.endswith("GlobalShortcuts"):
        if method == "CreateSession":
            note("CreateSession", p[2] or "-")
            if state["refuse"]:
                return answer(invocation, 2, {})
            state["session"] = p[1]
            export_session(conn, p[1])
            return answer(invocation, 0, {"session_handle": GLib.Variant("s", p[1])})
        if method == "ListShortcuts":
            note("ListShortcuts", ",".join(bound) or "-")
            return answer(invocation, 0, {"shortcuts": shortcut_list()})
        if method == "BindShortcuts":
            for sid, props in p[2]:
                note("BindShortcuts", sid, props.get("preferred_trigger", "-"))
                trigger = props.get("preferred_trigger", "")
                bound[sid] = trigger
            return answer(invocation, state["bind_code"], {"shortcuts": shortcut_list()})
    else:
        if method == "CreateSession":
            note("RemoteDesktop.CreateSession", p[2] or "-")
            state["session"] = p[1]
            export_session(conn, p[1])
            return answer(invocation, 0, {"session_handle": GLib.Variant("s", p[1])})
        if method == "SelectDevices":
            note("SelectDevices", p[3].get("types", 0), p[3].get("persist_mode", 0))
            return answer(invocation, 0, {})
        if method == "Start":
            note("Start")
            if state["hold"]:
                state["hold"], state["held"] = False, invocation
                return None
            return answer(invocation, 0, {"devices": GLib.Variant("u", KEYBOARD)})
        if method == "NotifyKeyboardKeycode":
            note("Key", p[2], p[3])
            return invocation.return_value(None)
    invocation.return_dbus_error("org.freedesktop.DBus.Error.UnknownMethod", method)


def portal_property(conn, sender, path, iface, name):
    if name == "AvailableDeviceTypes":
        return GLib.Variant("u", KEYBOARD)
    return GLib.Variant("u", 1)


def control_call(conn, sender, path, iface, method, params, invocation):
    if method in ("Refuse", "AnswerBindsAsGnome48"):
        state["refuse" if method == "Refuse" else "bind_code"] = 2
        return invocation.return_value(None)
    if method == "HoldStart":
        state["hold"] = True
        return invocation.return_value(None)
    if method == "AnswerStart":
        code, held, state["held"] = params.unpack()[0], state["held"], None
        answer(held, code, {"devices": GLib.Variant("u", KEYBOARD)} if code == 0 else {})
        return invocation.return_value(None)
    conn.emit_signal(None, PATH, "org.freedesktop.impl.portal.GlobalShortcuts",
                     "Activated" if method == "Activate" else "Deactivated",
                     GLib.Variant("(osta{sv})", (state["session"], params.unpack()[0], 1, {})))
    invocation.return_value(None)


def on_bus(conn, name):
    for iface in Gio.DBusNodeInfo.new_for_xml(XML).interfaces:
        conn.register_object(PATH, iface, portal_call, portal_property, None)
    control = Gio.DBusNodeInfo.new_for_xml(CONTROL_XML).interfaces[0]
    conn.register_object("/control", control, control_call, None, None)


def main():
    Gio.bus_own_name(Gio.BusType.SESSION, bus_name, Gio.BusNameOwnerFlags.NONE, on_bus, None,
                     lambda *a: sys.exit("bus name lost"))
    GLib.MainLoop().run()


if __name__ == "__main__":
    main()
