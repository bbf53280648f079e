#!/usr/bin/env bash
# Sourced by the desktop tests: a throw-away Debian 13 desktop root for one run.
#   root_up DEB      the cached root under an overlay, with /proc, /sys, /dev, a system bus, an
#                    ordinary account with a login shell and the package DEB installed
#   in_root CMD...   CMD as root inside it
#   as_user CMD...   CMD as the account, in its session environment (SESSION_ENV, exported names)
#   root_down        ends everything started inside and unmounts (also on exit)
#   keep_logs DIR    copies the run's logs and the program's state (its journal) to DIR, outside the root
# Sets ROOT (the merged root), ROOT_USER, ROOT_UID, ROOT_RUNTIME (its XDG_RUNTIME_DIR, as seen
# inside) and ROOT_SKIP (why the run cannot happen; the caller skips with status 77).

here_desktops=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=""
ROOT_USER=talvorodesk
ROOT_UID=""
ROOT_RUNTIME=""
ROOT_SKIP=""
declare -a SESSION_ENV=()
_root_base=""
_root_work=""
_root_mounts=()

_root_mount() { # mount ARGS... TARGET, remembered for root_down
  mount "$@" && _root_mounts+=("${!#}")
}

root_up() {
  local deb=$1
  set +e
  _root_base=$(bash "$here_desktops/debian13_root.sh")
  local status=$?
  set -e
  if [ $status -eq 77 ]; then
    ROOT_SKIP="Debian's archive cannot be reached: the Debian 13 desktop root cannot be built"
    return 0
  fi
  [ $status -eq 0 ] || { echo "desktop_root: the Debian 13 root could not be built" >&2; return 1; }
  _root_work=$(mktemp -d /tmp/talvoro-desktop.XXXXXX)
  mkdir -p "$_root_work/upper" "$_root_work/work" "$_root_work/merged"
  trap root_down EXIT
  _root_mount -t overlay overlay \
    -o "lowerdir=$_root_base,upperdir=$_root_work/upper,workdir=$_root_work/work" \
    "$_root_work/merged"
  ROOT=$_root_work/merged
  # Mounts below the root stay its own: none propagates to the host's and outlives the run.
  mount --make-rprivate "$ROOT"
  _root_mount --bind /proc "$ROOT/proc"
  _root_mount --rbind /sys "$ROOT/sys"
  mount --make-rslave "$ROOT/sys"
  _root_mount --bind /dev "$ROOT/dev"
  _root_mount --bind /dev/pts "$ROOT/dev/pts"
  _root_mount -t tmpfs -o mode=1777 tmpfs "$ROOT/tmp"
  _root_mount -t tmpfs -o mode=0755 tmpfs "$ROOT/run"
  mkdir -p "$ROOT/tmp/.X11-unix" "$ROOT/tmp/.ICE-unix" "$ROOT/run/dbus" "$ROOT/run/user"
  chmod 1777 "$ROOT/tmp/.X11-unix" "$ROOT/tmp/.ICE-unix"
  cp /etc/resolv.conf "$ROOT/etc/resolv.conf" 2>/dev/null || true
  in_root useradd --create-home --shell /bin/bash "$ROOT_USER"
  ROOT_UID=$(in_root id -u "$ROOT_USER")
  ROOT_RUNTIME=/run/user/$ROOT_UID
  mkdir -p "$ROOT$ROOT_RUNTIME"
  chmod 0700 "$ROOT$ROOT_RUNTIME"
  in_root chown "$ROOT_USER:" "$ROOT_RUNTIME"
  rm -f "$ROOT/run/dbus/pid"
  in_root dbus-daemon --system --fork
  [ -n "$deb" ] || return 0
  cp "$deb" "$ROOT/tmp/talvoro.deb"
  # The root holds the package's dependencies; a new one is fetched after all.
  local install=(env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends
    /tmp/talvoro.deb)
  if ! in_root "${install[@]}" >"$_root_work/install.log" 2>&1 &&
     ! { in_root apt-get update -qq && in_root "${install[@]}"; } >>"$_root_work/install.log" 2>&1; then
    cat "$_root_work/install.log" >&2
    echo "desktop_root: the package does not install in Debian 13" >&2
    return 1
  fi
}

in_root() {
  chroot "$ROOT" "$@"
}

as_user() {
  local -a env=(HOME=/home/$ROOT_USER USER=$ROOT_USER LOGNAME=$ROOT_USER SHELL=/bin/bash
    PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 XDG_RUNTIME_DIR=$ROOT_RUNTIME)
  local name
  for name in "${SESSION_ENV[@]}"; do
    env+=("$name=${!name}")
  done
  chroot --userspec="$ROOT_USER:$ROOT_USER" "$ROOT" env -i "${env[@]}" "$@"
}

keep_logs() {
  rm -rf "$1"
  mkdir -p "$1"
  cp -r "$ROOT/tmp/logs/." "$1/" 2>/dev/null || true
  cp "$ROOT"/tmp/*.log "$ROOT"/tmp/cases/*.out "$1/" 2>/dev/null || true
  cp -r "$ROOT/home/$ROOT_USER/.local/state/vendrik" "$1/state" 2>/dev/null || true
  echo "desktop_root: the run's logs are kept in $1" >&2
}

root_down() {
  [ -n "$ROOT" ] || return 0
  set +e # a process gone by itself or a mount already away must not end the clean-up
  # Everything whose root is the merged folder: the bus, the desktop, its clients.
  local pid
  for pid in $(ls /proc | grep -E '^[0-9]+$'); do
    [ "$(readlink "/proc/$pid/root" 2>/dev/null)" = "$ROOT" ] && kill -9 "$pid" 2>/dev/null
  done
  sleep 0.2
  local index
  for ((index = ${#_root_mounts[@]} - 1; index >= 0; index--)); do
    umount -l "${_root_mounts[$index]}" 2>/dev/null || true # an exit trap under set -e
  done
  umount -R -l "$ROOT" 2>/dev/null
  # Never remove through a mount that is still there (it may be the host's /dev or /proc).
  if grep -q " $_root_work/" /proc/mounts; then
    echo "desktop_root: $_root_work is still mounted; left in place" >&2
  else
    rm -rf "$_root_work"
  fi
  ROOT=""
  _root_mounts=()
}
