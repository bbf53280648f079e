#!/bin/bash
# Starts headless mutter (XWayland on) as nobody, then the keyboard keeper and the GTK 4 field.
set -e
G=$1
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p $G/runtime $G/home; chown -R nobody:nogroup $G; chmod 700 $G/runtime; chmod 755 $G
as_nobody="setpriv --reuid=nobody --regid=nogroup --clear-groups env -i PATH=/usr/bin:/bin HOME=$G/home XDG_RUNTIME_DIR=$G/runtime"
$as_nobody dbus-run-session -- mutter --headless --wayland --wayland-display=gnome-test \
  --virtual-monitor 1024x768 > $G/mutter.log 2>&1 &
echo $! > $G/mutter.pid
for i in $(seq 100); do [ -S $G/runtime/gnome-test ] && break; sleep 0.1; done
sleep 1
mutter=$(pgrep -u nobody -x mutter | head -1)
bus=$(tr '\0' '\n' < /proc/$mutter/environ | grep DBUS_SESSION_BUS_ADDRESS)
xauth=$(ls $G/runtime/.mutter-Xwaylandauth.*)
display=$(grep -o "Using public X11 display :[0-9]*" $G/mutter.log | grep -o ":[0-9]*")
echo "$as_nobody WAYLAND_DISPLAY=gnome-test $bus DISPLAY=$display XAUTHORITY=$xauth" > $G/env
run=$(cat $G/env)
$run /usr/bin/python3 $here/mutter_keyboard.py $G/keys > $G/keyboard.log 2>&1 &
$run GDK_BACKEND=wayland /usr/bin/python3 $here/gtk4_field.py $G/field.log > $G/field.out 2>&1 &
sleep 3
echo 42 > $G/keys   # a first key press: the seat now has a keyboard, the field gets the focus
sleep 1.5
tail -1 $G/field.log
