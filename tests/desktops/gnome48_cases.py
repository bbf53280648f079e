# The desktop cases on GNOME 48, run inside the root as the session's account once the shell is
# up (gnome48_test.sh). Keys go in as a person presses them (mutter's remote desktop); dialogs
# are answered with their keys. Prints one line per case: desktop | case | path | result.
import glob
import os
import re
import subprocess
import sys
import time

from gi.repository import GLib

from desktop_cases import (JOURNAL, RECORDINGS, Clipboard, Field, MutterKeys, Report, play_greeting,
                           png, png_size, read, recording_started, recordings, session_bus,
                           terminal_text, wait, wait_window, windows)

ENTRY = "/usr/share/applications/org.talvoro.Talvoro.desktop"
report = Report("GNOME 48")
keys = MutterKeys()
keys.chord("esc")  # the shell starts in the overview

# Our windows go through XWayland: the shell names its display and its authority file.
display = re.search(r"Using public X11 display (:\d+)", read("/tmp/logs/shell.log"))
os.environ["DISPLAY"] = display.group(1) if display else ":0"
auth = glob.glob(os.environ["XDG_RUNTIME_DIR"] + "/.mutter-Xwaylandauth.*")
if auth:
    os.environ["XAUTHORITY"] = auth[0]


def journal_since(mark):
    return read(JOURNAL)[mark:]


def start_program():
    """Starts the installed program from its desktop entry, as the desktop's launcher does."""
    mark = len(read(JOURNAL))
    subprocess.run(["gio", "launch", ENTRY], check=True, stdout=open("/tmp/logs/app.log", "a"),
                   stderr=subprocess.STDOUT)
    return mark


def stop_program():
    subprocess.run(["talvoro", "quit"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait(lambda: subprocess.run(["pgrep", "-x", "talvoro"], stdout=subprocess.DEVNULL).returncode,
         15)


def dictate(field, chord, mode, answer_dialogs):
    """One dictation into `field` by hold or by toggle; the field's text once it settles."""
    before = recordings()
    start = time.monotonic()
    for name in chord:
        keys.key(name, True)
    if mode == "toggle":
        for name in reversed(chord):
            keys.key(name, False)
    if not recording_started(before):
        for name in reversed(chord):
            keys.key(name, False)
        return None, "no recording started"
    play_greeting()
    if mode == "hold":
        time.sleep(max(0.0, 0.6 - (time.monotonic() - start)))
        for name in reversed(chord):
            keys.key(name, False)
    else:  # "toggle"; "toggle, held": the stop's keys stay down a while, as a slow hand's
        keys.chord(*chord, hold=0.6 if mode == "toggle, held" else 0.05)
    if answer_dialogs and wait_window("Remote Desktop", 20):
        # Allow Remote Interaction, then Share ("Remember This Selection" is on already).
        for letter in "is":
            keys.chord("alt", letter)
            time.sleep(0.3)
    if not wait(lambda: field.text().strip(), 40):
        return "", "nothing arrived; windows: %s" % [w for w in windows() if w[1] != "window"]
    time.sleep(1.5)  # a second paste would land by now
    return field.text(), None


def insertion_path():
    """How the last text went in, as the journal says it."""
    lines = re.findall(r"диктовка: вставка — (.*)", read(JOURNAL))
    return lines[-1] if lines else "?"


def gtk_active():
    return wait(lambda: any(w[2] == "gtk4 field" and w[3] for w in windows()), 10, step=0.3)


def fields_and_layouts(gtk, clipboard, chord, expected):
    """2. Exactly once into a native GTK 4 and a native Qt 6 field, in the us and the ru layout;
    the clipboard from before (a text, an image) comes back."""
    for layout, previous in (("us", "text"), ("ru", "image")):
        subprocess.run(["gsettings", "set", "org.gnome.desktop.input-sources", "sources",
                        "[('xkb', '%s')]" % layout], check=True)
        for kind in ("gtk4", "qt6"):
            gtk_active()
            if previous == "text":
                clipboard.set_text("прежний буфер")
            else:
                clipboard.set_image(png(8, 6, (200, 30, 30)))
            clipboard.clear_field()
            field = gtk if kind == "gtk4" else Field("qt6", {"QT_QPA_PLATFORM": "wayland"})
            text, why = dictate(field, chord, "toggle", False)
            if field is not gtk:
                field.close()
                gtk_active()
            try:
                mimes, plain, image = clipboard.read()
            except GLib.Error as error:
                mimes, plain, image = [error.message], "", b""
            back = plain == "прежний буфер" if previous == "text" else png_size(image) == (8, 6)
            report.case("2 %s, %s field, %s before" % (layout, kind, previous),
                        text == expected and back and "не дошло" not in insertion_path(),
                        insertion_path(),
                        why or "field %r, clipboard after: %s %r" % (text, mimes, plain))
    subprocess.run(["gsettings", "reset", "org.gnome.desktop.input-sources", "sources"])


class Console:
    """GNOME Console, its terminal's text read through the accessibility bus."""

    def __init__(self):
        self.process = subprocess.Popen(["kgx"], stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        wait(lambda: "$" in terminal_text(), 20, step=0.3)
        self.before = terminal_text()

    def text(self):
        now = terminal_text()
        return now[len(self.before):] if now.startswith(self.before) else now

    def close(self):
        self.process.terminate()
        self.process.wait()


def pending():
    return glob.glob(RECORDINGS + "/pending/*.wav")


def refused_keyboard(gtk, clipboard, chord):
    """4. The first paste's keyboard dialog refused: nothing is pressed, the clipboard is never
    touched, the journal says what to do, and the dictation waits in the queue without asking
    again at the queue's every retry."""
    clipboard.set_text("прежний буфер")
    clipboard.clear_field()
    mark = len(read(JOURNAL))
    before = recordings()
    keys.chord(*chord)
    recording_started(before)
    play_greeting()
    keys.chord(*chord)
    asked = wait_window("Remote Desktop", 20)
    if asked:
        keys.chord("esc")
    told = wait(lambda: re.search("диктовка: (.*не разрешили.*)", journal_since(mark)), 20)
    time.sleep(22)  # past the queue's 20 s retry
    asked_again = wait_window("Remote Desktop", 1)
    plain = clipboard.read()[1]
    report.case("4 keyboard refused", bool(asked) and told is not None
                and not gtk.text() and plain == "прежний буфер"
                and len(pending()) == 1 and not asked_again
                and "пробую догнать" not in journal_since(mark),
                "RemoteDesktop portal, its dialog cancelled",
                "asked: %s, again: %s, told: %s, field %r, clipboard %r, waiting: %d" % (
                    bool(asked), bool(asked_again), told and told[1], gtk.text(), plain,
                    len(pending())))


def hotkey_path(mark):
    """Which way the hotkey reached us, from the journal of this start."""
    lines = journal_since(mark)
    if "диктовка не запустилась" in lines:
        return None, lines.strip().splitlines()[-1]
    note = re.search(r"хоткей: (.*)", lines)
    return note.group(1) if note else "", None


def main():
    bus = session_bus()
    gtk = Field("gtk4")
    clipboard = Clipboard(bus)

    # 1. First start: the portal's approval dialog answered; hold and toggle both deliver.
    mark = start_program()
    dialog = wait_window("Add Keyboard Shortcuts", 30)
    if dialog:
        keys.chord("alt", "a")
    wait(lambda: "диктовка не запустилась" in journal_since(mark), 3)
    note, failure = hotkey_path(mark)
    chord = ("ctrl", "alt", "space") if "Ctrl+Alt+Space" in (note or "") else ("alt", "space")
    path = "GlobalShortcuts portal (%s)%s" % ("+".join(chord),
                                              ", dialog answered" if dialog else ", no dialog")
    if failure:
        report.case("1 first start", False, path, failure)
        return
    gtk_active()
    refused_keyboard(gtk, clipboard, chord)
    # The next dictation asks again; allowed, its text and then the waiting one's arrive.
    both, why = dictate(gtk, chord, "hold", True)
    both = wait(lambda: gtk.text() if gtk.text().count("мир") == 2 else None, 30) or gtk.text()
    if not report.case("1 hold", "мир" in both, path, why or "field: %r" % both):
        return
    wait(lambda: not pending(), 10)  # taken off the queue once its paste is over
    report.case("4 the waiting one once allowed", both.count("мир") == 2 and not pending(),
                insertion_path(), "field: %r, still waiting: %s" % (both, pending()))
    clipboard.clear_field()
    gtk_active()
    held, why = dictate(gtk, chord, "toggle", False)
    report.case("1 toggle", bool(held) and both.count(held.strip()) == 2, path,
                why or "field: %r" % held)

    fields_and_layouts(gtk, clipboard, chord, held)

    # 3. A native terminal gets the text.
    console = Console()
    typed, why = dictate(console, chord, "toggle", False)
    console.close()
    report.case("3 GNOME Console", (typed or "").count(held.strip()) == 1, insertion_path(),
                why or "terminal got %r" % typed)
    gtk_active()

    # 6. The stop's keys still down when the text is ready: Ctrl+V, never Ctrl+Alt+V.
    clipboard.clear_field()
    slow, why = dictate(gtk, chord, "toggle, held", False)
    report.case("6 keys held at the stop", slow == held, insertion_path(),
                why or "field: %r" % slow)

    # 8. Second start: no dialog, the shortcut still fires.
    stop_program()
    mark = start_program()
    dialog = wait_window("Add Keyboard Shortcuts", 8)
    wait(lambda: "диктовка не запустилась" in journal_since(mark), 3)
    clipboard.clear_field()
    again, why = dictate(gtk, chord, "toggle", False)
    report.case("8 second start", not dialog and again == held and bool(held), path,
                why or ("a dialog came again" if dialog else "field: %r" % again))
    without_shortcuts_portal(gtk, clipboard, held)


def without_shortcuts_portal(gtk, clipboard, expected):
    """7. GNOME up to 47: no GlobalShortcuts portal. The first start asks once to bind GNOME's own
    keybinding; answered yes, pressing it dictates (toggle) and the journal says so."""
    stop_program()
    folder = os.path.expanduser("~/.config/xdg-desktop-portal")
    os.makedirs(folder, exist_ok=True)
    with open(folder + "/gnome-portals.conf", "w") as conf:
        conf.write("[preferred]\ndefault=gnome;gtk;\n"
                   "org.freedesktop.impl.portal.GlobalShortcuts=none\n")
    # The portal started for this session reads its settings again once restarted. It is found
    # by its command line: its process name is cut to 15 characters.
    portal = ["pgrep", "-u", str(os.getuid()), "-f", "^/usr/libexec/xdg-desktop-portal$"]
    for pid in subprocess.run(portal, capture_output=True, text=True).stdout.split():
        os.kill(int(pid), 15)
    wait(lambda: subprocess.run(portal, stdout=subprocess.DEVNULL).returncode, 10)
    media_keys = subprocess.Popen(["/usr/libexec/gsd-media-keys"], stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
    mark = start_program()
    asked = wait_window("Тальворо", 30)
    if asked:
        time.sleep(1)  # as a person reads the question
        keys.chord("enter")
    wait(lambda: "хоткей: " in journal_since(mark), 10)
    note = re.search(r"хоткей: (.*)", journal_since(mark))
    chord = ("ctrl", "alt", "space") if note and "Ctrl+Alt+Space" in note.group(1) else ("alt", "space")
    gtk_active()
    clipboard.clear_field()
    text, why = dictate(gtk, chord, "toggle", False)
    report.case("7 no shortcuts portal", bool(asked) and text == expected,
                "GNOME keybinding «talvoro toggle» (%s)" % "+".join(chord),
                why or "asked: %s, note: %s, field %r" % (bool(asked), note and note.group(1),
                                                          text))
    media_keys.terminate()


main()
sys.exit(1 if report.failed else 0)
