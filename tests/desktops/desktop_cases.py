# Shared pieces of the desktop cases, run inside the Debian 13 root as the session's account:
# keys pressed as a person presses them, and small helpers the case drivers share.
import glob
import math
import os
import struct
import subprocess
import tempfile
import time
import wave
import zlib

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


def wait(what, seconds, step=0.1):
    """what() until it gives something true; that, or None after `seconds`."""
    end = time.monotonic() + seconds
    while True:
        value = what()
        if value or time.monotonic() > end:
            return value or None
        time.sleep(step)


def read(path):
    try:
        with open(path, encoding="utf-8") as file:
            return file.read()
    except OSError:
        return ""


HOME = os.path.expanduser("~")
JOURNAL = os.path.join(HOME, ".local/state/vendrik/log")
RECORDINGS = os.path.join(HOME, "Dictation")
KIT = os.path.dirname(os.path.abspath(__file__))


def recording_started(before):
    """A recording newer than the `before` listing of the dictation folder."""
    return wait(lambda: set(glob.glob(RECORDINGS + "/*.wav")) - before, 20)


def recordings():
    return set(glob.glob(RECORDINGS + "/*.wav"))


def play_greeting():
    """Plays into the microphone what the build's test model hears as its greeting: two tones
    between silences, 16 kHz mono (tests/support/test_model_audio.h writes the same)."""
    path = "/tmp/greeting.wav"
    samples = [0] * 5120
    for frequency in (300.0, 450.0):
        samples += [round(16000 * math.sin(2 * math.pi * frequency * i / 16000))
                    for i in range(5120)]
        samples += [0] * 5120
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(16000)
        out.writeframes(struct.pack("<%dh" % len(samples), *samples))
    subprocess.run(["paplay", "--device=mic", path], check=True)


def windows():
    """(application, role, title, active) of every top-level window the accessibility bus
    knows."""
    import gi
    gi.require_version("Atspi", "2.0")
    from gi.repository import Atspi
    found = []
    desktop = Atspi.get_desktop(0)
    for index in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(index)
        if app is None:
            continue
        for child in range(app.get_child_count()):
            window = app.get_child_at_index(child)
            if window is None:
                continue
            try:
                active = window.get_state_set().contains(Atspi.StateType.ACTIVE)
                found.append((app.get_name(), window.get_role_name(), window.get_name(), active))
            except GLib.Error:
                pass
    return found


def wait_window(title, seconds=30):
    """The first active window whose title holds `title`, once there is one."""
    return wait(lambda: next((w for w in windows() if title in w[2] and w[3]), None), seconds,
                step=0.3)


class Field:
    """A native field program (the GTK 4 field or the Qt 6 one) writing its text to a file."""

    def __init__(self, kind, env=None):
        self.kind = kind
        self.out = tempfile.mktemp(prefix=kind + "-text.")
        self.ready = tempfile.mktemp(prefix=kind + "-ready.")
        if kind == "gtk4":
            command = ["python3", os.path.join(KIT, "gtk4_field.py"), self.out, self.ready]
        else:
            command = [os.path.join(KIT, "paste_target"), "--out", self.out, "--ready",
                       self.ready]
        log = open("/tmp/logs/%s-field.log" % kind, "a")
        self.process = subprocess.Popen(command, env=dict(os.environ, **(env or {})),
                                        stdout=log, stderr=subprocess.STDOUT)
        if not wait(lambda: os.path.exists(self.ready), 20):
            raise RuntimeError("the %s field never got the focus" % kind)

    def text(self):
        return read(self.out)

    def close(self):
        self.process.terminate()
        self.process.wait()


class Clipboard:
    """The clipboard as an ordinary native application sets and reads it (the GTK 4 field)."""

    def __init__(self, bus):
        self.bus = bus

    def _call(self, method, args=None):
        return self.bus.call_sync("org.talvoro.DeskField", "/field", "org.talvoro.DeskField",
                                  method, args, None, 0, 10000, None).unpack()

    def set_text(self, text):
        self._call("SetText", GLib.Variant("(s)", (text,)))

    def set_image(self, png):
        self._call("SetImage", GLib.Variant("(ay)", (png,)))

    def read(self):
        """(mime types, text, PNG bytes)."""
        return self._call("Read")

    def clear_field(self):
        self._call("Clear")


class Report:
    """One line per case: desktop, case, path used, result; the exit status counts failures."""

    def __init__(self, desktop):
        self.desktop = desktop
        self.failed = 0

    def case(self, name, ok, path, detail=""):
        self.failed += 0 if ok else 1
        print("%s | %s | %s | %s%s" % (self.desktop, name, path, "ok" if ok else "FAILED",
                                        " — " + detail if detail else ""), flush=True)
        return ok


def png(width, height, rgb):
    """A small one-colour PNG: the image a user had copied before dictating."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    rows = b"".join(b"\0" + bytes(rgb) * width for _ in range(height))
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def png_size(data):
    return struct.unpack(">II", bytes(data[16:24])) if len(data) >= 24 else None


def terminal_text():
    """The text of the first terminal widget the accessibility bus knows (VTE's, Konsole's)."""
    import gi
    gi.require_version("Atspi", "2.0")
    from gi.repository import Atspi

    def find(node, depth):
        if node is None or depth > 25:
            return None
        if node.get_role() == Atspi.Role.TERMINAL:
            return node
        for index in range(node.get_child_count()):
            found = find(node.get_child_at_index(index), depth + 1)
            if found:
                return found
        return None

    desktop = Atspi.get_desktop(0)
    for index in range(desktop.get_child_count()):
        try:
            terminal = find(desktop.get_child_at_index(index), 0)
        except GLib.Error:
            continue
        if terminal:
            return Atspi.Text.get_text(terminal, 0, Atspi.Text.get_character_count(terminal))
    return ""
