#!/usr/bin/env bash
# Builds (once per machine and package list) a Debian 13 root with GNOME 48 and Plasma 6 for the
# desktop tests, and prints its path. The root lives outside the work tree; a changed package list
# makes a new one. Exit 77 (skip) when Debian's archive cannot be reached.
set -euo pipefail
packages=(
  # GNOME 48
  gnome-shell mutter xdg-desktop-portal xdg-desktop-portal-gnome gnome-control-center
  gnome-settings-daemon gnome-console gsettings-desktop-schemas
  # Plasma 6
  kwin-wayland xdg-desktop-portal-kde kglobalacceld konsole libkf6service-bin plasma-workspace
  # Both
  xwayland dbus dbus-user-session dbus-x11 at-spi2-core libxcb-cursor0 qt6-wayland
  python3-gi gir1.2-gtk-4.0 gir1.2-atspi-2.0 libglib2.0-bin wl-clipboard
  pulseaudio pulseaudio-utils locales fonts-dejavu-core procps psmisc sudo
  # What the package depends on, so that it installs without the network
  zip libatspi2.0-0 libpulse0 libqt6core6 libqt6dbus6 libqt6gui6 libqt6network6 libqt6widgets6
  libsoxr0 libwayland-client0 libxcb-keysyms1 libxcb-xfixes0 libxcb-xinput0 libxcb-xkb1
  libxcb-xtest0 libxkbcommon0
)
cache=${TALVORO_DESKTOP_CACHE:-/var/cache/talvoro-tests}
key=$(printf '%s\n' "${packages[@]}" | sort | sha256sum | cut -c1-12)
root="$cache/trixie-$key"
if [ -f "$root/.complete" ]; then
  echo "$root"
  exit 0
fi
command -v mmdebstrap >/dev/null || apt-get install -y -qq mmdebstrap >/dev/null
# A real fetch of a small package tells whether the archive answers.
probe=$(mktemp -d)
if ! (cd "$probe" && timeout 60 apt-get download -qq mmdebstrap >/dev/null 2>&1); then
  rm -rf "$probe"
  echo "debian13_root: Debian's archive cannot be reached" >&2
  exit 77
fi
rm -rf "$probe"
mkdir -p "$cache"
rm -rf "$root.tmp"
list=$(IFS=,; echo "${packages[*]}")
if ! mmdebstrap --quiet --variant=apt --include="$list" trixie "$root.tmp" >&2; then
  rm -rf "$root.tmp"
  echo "debian13_root: mmdebstrap failed" >&2
  exit 1
fi
touch "$root.tmp/.complete"
mv "$root.tmp" "$root"
echo "$root"
