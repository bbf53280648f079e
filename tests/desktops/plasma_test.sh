#!/usr/bin/env bash
# The installed package in a headless Plasma 6.3 session (KWin 6.3 of Debian 13, with its own
# portal backend, KGlobalAccel and KRunner), run as root: plasma_test.sh BUILD_DIR CPACK. Sets
# the session up as a real Plasma start does, then runs plasma_cases.py as the session's user.
# Exit 77 only when Debian's archive cannot be reached.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1 cpack=$2
source "$here/desktop_root.sh"
package=$build/desktop-package # the package built from this tree, made again on every run
rm -rf "$package"
mkdir -p "$package"
if [ -n "${TALVORO_DEB:-}" ]; then # or one made from it already
  cp "$TALVORO_DEB" "$package/"
elif ! "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$package" >"$package/cpack.log" 2>&1; then
  cat "$package/cpack.log" >&2
  exit 1
fi
root_up "$(ls "$package"/*.deb)"
if [ -n "$ROOT_SKIP" ]; then
  echo "SKIPPED: $ROOT_SKIP" >&2
  exit 77
fi

kit=/usr/local/lib/talvoro-test
mkdir -p "$ROOT$kit"
cp "$build/tests/desktops/kwin_keys" "$build/tests/paste_target" "$here"/*.py "$ROOT$kit/"
cp -rL "$build/test-models/gigaam" "$ROOT$kit/model"
# KWin gives fake input to a program whose desktop entry names it, found through KService.
cat >"$ROOT/usr/share/applications/talvoro-test-keys.desktop" <<ENTRY
[Desktop Entry]
Type=Application
Name=talvoro test keyboard
Exec=$kit/kwin_keys
X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input
ENTRY
# A copy at a path no desktop entry names, as a program run from elsewhere is: KWin gives it no
# fake input.
cp "$ROOT/usr/bin/talvoro" "$ROOT/usr/bin/talvoro-unlisted"
printf '#!/bin/sh\necho "$DISPLAY" > "$XDG_RUNTIME_DIR/x-display"\n' >"$ROOT$kit/tell-display"
chmod 755 "$ROOT$kit/tell-display"
# kwin_wayland carries cap_sys_nice, which an unprivileged process in a container cannot take up.
cp "$ROOT/usr/bin/kwin_wayland" "$ROOT/usr/local/bin/kwin_wayland"
home=$ROOT/home/$ROOT_USER
mkdir -p "$home/.config"
printf '[Layout]\nLayoutList=us,ru\nUse=true\n' >"$home/.config/kxkbrc"
in_root chown -R "$ROOT_USER:" "/home/$ROOT_USER/.config"

# What startplasma-wayland gives the session; KService finds entries through Plasma's menu.
DBUS_SESSION_BUS_ADDRESS=unix:path=$ROOT_RUNTIME/bus
WAYLAND_DISPLAY=wayland-0
XDG_CURRENT_DESKTOP=KDE
XDG_SESSION_TYPE=wayland
XDG_MENU_PREFIX=plasma-
KDE_FULL_SESSION=true
KDE_SESSION_VERSION=6
DISPLAY=""
SESSION_ENV=(DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY XDG_CURRENT_DESKTOP XDG_SESSION_TYPE
  XDG_MENU_PREFIX KDE_FULL_SESSION KDE_SESSION_VERSION)
as_user dbus-daemon --session --fork --nopidfile --address="$DBUS_SESSION_BUS_ADDRESS"

# KWin with XWayland; it ended with a segmentation fault at start now and then, saying nothing:
# that is told and tried once more, and a KWin that neither comes up nor ends is a failure.
kwin_up() {
  local attempt log=$ROOT/tmp/kwin.log status
  for attempt in 1 2; do
    rm -f "$ROOT$ROOT_RUNTIME/x-display" "$ROOT$ROOT_RUNTIME/wayland-0" "$ROOT$ROOT_RUNTIME/wayland-0.lock"
    as_user kwin_wayland --virtual --xwayland --width 1280 --height 800 --socket wayland-0 \
      "$kit/tell-display" >"$log" 2>&1 &
    local kwin=$! waited
    for ((waited = 0; waited < 600; waited++)); do
      [ -s "$ROOT$ROOT_RUNTIME/x-display" ] && break
      kill -0 $kwin 2>/dev/null || break
      sleep 0.1
    done
    if [ -s "$ROOT$ROOT_RUNTIME/x-display" ]; then
      DISPLAY=$(cat "$ROOT$ROOT_RUNTIME/x-display")
      echo "plasma: KWin up (attempt $attempt), XWayland on $DISPLAY"
      return 0
    fi
    if kill -0 $kwin 2>/dev/null; then
      echo "plasma: KWin neither came up nor ended in 60 s; its log:" >&2
      cat "$log" >&2
      return 1
    fi
    status=0
    wait $kwin || status=$?
    echo "plasma: KWin ended at start (attempt $attempt) with status $status$( ((status > 128)) &&
      echo " — signal $((status - 128))"); its log:" >&2
    sed 's/^/  /' "$log" >&2
  done
  return 1
}
kwin_up
SESSION_ENV+=(DISPLAY)
as_user dbus-update-activation-environment "${SESSION_ENV[@]}"
as_user python3 "$kit/plasma_cases.py" || { status=$?; keep_logs "$build/desktop-logs/plasma"; exit $status; }
