#!/usr/bin/env bash
# GNOME 48 as Debian 13 ships it, headless: the package built from this tree installed in the
# Debian 13 root, started from its desktop entry, and the desktop cases run against it by
# gnome48_cases.py as the session's account. Usage: gnome48_test.sh BUILD_DIR
# Exit 77 (skip) only when Debian's archive cannot be reached.
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/desktop_root.sh"

deb_dir=$(mktemp -d /tmp/talvoro-deb.XXXXXX)
(cd "$deb_dir" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$deb_dir" >cpack.log 2>&1) ||
  { cat "$deb_dir/cpack.log" >&2; exit 1; }
deb=$(ls "$deb_dir"/talvoro_*.deb)
root_up "$deb" || { rm -rf "$deb_dir"; exit 1; }
rm -rf "$deb_dir"
if [ -n "$ROOT_SKIP" ]; then
  echo "SKIPPED: $ROOT_SKIP" >&2
  exit 77
fi

# What the cases need inside: the field programs, the test model, the settings.
kit=/opt/talvoro-cases
mkdir -p "$ROOT$kit"
cp "$here"/desktop_cases.py "$here"/gtk4_field.py "$here"/gnome48_cases.py \
  "$build/tests/paste_target" "$ROOT$kit/"
cp -r "$build/test-models/gigaam" "$ROOT$kit/model"
home=$ROOT/home/$ROOT_USER
mkdir -p "$home/.config/vendrik"
printf 'MODEL_DIR=%s\nMODEL_SOURCES=http://127.0.0.1:9\nDICTATION_DIR=%s\n' \
  "$kit/model" "/home/$ROOT_USER/Dictation" >"$home/.config/vendrik/.env"
in_root chown -R "$ROOT_USER:" "/home/$ROOT_USER" "$kit"

export DBUS_SESSION_BUS_ADDRESS=unix:path=$ROOT_RUNTIME/bus WAYLAND_DISPLAY=wayland-0
export XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_TYPE=wayland XDG_SESSION_DESKTOP=gnome
SESSION_ENV=(DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY XDG_CURRENT_DESKTOP XDG_SESSION_TYPE
  XDG_SESSION_DESKTOP)
logs=$ROOT/tmp/logs
mkdir -p "$logs"
chmod 1777 "$logs"

# The sound server: a null sink whose monitor is the microphone.
as_user sh -c 'exec pulseaudio -n --daemonize=no --exit-idle-time=-1 \
  -L "module-null-sink sink_name=mic rate=48000 channels=2" \
  -L "module-native-protocol-unix" >/tmp/logs/pulse.log 2>&1' &
as_user sh -c 'for i in $(seq 100); do pactl info >/dev/null 2>&1 && exit 0; sleep 0.1; done; exit 1' ||
  { cat "$logs/pulse.log" >&2; echo "gnome48: pulseaudio did not come up" >&2; exit 1; }
as_user pactl set-default-source mic.monitor
as_user sh -c 'exec pacat --playback --device=mic --latency-msec=10 --raw </dev/zero' &

as_user sh -c 'exec dbus-daemon --session --nofork --nopidfile \
  --address="$DBUS_SESSION_BUS_ADDRESS" >/tmp/logs/bus.log 2>&1' &
as_user sh -c 'for i in $(seq 100); do [ -S "$XDG_RUNTIME_DIR/bus" ] && exit 0; sleep 0.1; done; exit 1'

# The shell; one that dies at start is said and tried once more.
shell_up() {
  as_user sh -c 'exec gnome-shell --headless --wayland --virtual-monitor 1280x800 \
    >/tmp/logs/shell.log 2>&1' &
  shell=$!
  for _ in $(seq 150); do
    grep -q "GNOME Shell started" "$logs/shell.log" 2>/dev/null && return 0
    kill -0 "$shell" 2>/dev/null || break
    sleep 0.2
  done
  wait "$shell" 2>/dev/null
  echo "gnome48: gnome-shell did not start (status $?); its log:" >&2
  cat "$logs/shell.log" >&2
  return 1
}
shell_up || shell_up
as_user dbus-update-activation-environment WAYLAND_DISPLAY XDG_CURRENT_DESKTOP XDG_SESSION_TYPE \
  XDG_SESSION_DESKTOP DISPLAY=:0

status=0
as_user python3 -u "$kit/gnome48_cases.py" "${@:2}" || status=$?
if [ $status -ne 0 ]; then
  keep_logs "$build/desktop-logs/gnome48"
  for log in "$home/.local/state/vendrik/log" "$logs"/*.log; do
    [ -f "$log" ] && { echo "--- $log" >&2; tail -40 "$log" >&2; }
  done
fi
exit $status
