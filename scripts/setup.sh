#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build, run and test talvoro.
# Safe to run again: packages already present and an unpacked runtime are left alone.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  cmake ninja-build g++ clang pkg-config git ccache
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev
  libpulse-dev libsoxr-dev
  libxcb1-dev libxcb-xtest0-dev libxcb-xfixes0-dev libxcb-xkb-dev libxcb-keysyms1-dev
  libxcb-xinput-dev libxcb-icccm4-dev libxcb-randr0-dev libxkbcommon-dev libxkbcommon-x11-dev
  libatspi2.0-dev at-spi2-core dbus dbus-x11
  libgtest-dev libgmock-dev libbenchmark-dev
  zip libsecret-tools espeak-ng sox
  python3-onnx python3-numpy
  xvfb xdotool xclip x11-utils x11-xkb-utils pulseaudio pulseaudio-utils
  xterm python3-gi gir1.2-gtk-3.0 trayer x11-apps imagemagick
  fonts-dejavu-core
  desktop-file-utils lintian dpkg-dev
  # Wayland sessions: protocol code, headless compositors (sway, weston, KWin; mutter for the
  # clipboard bridge notes) with native Qt and GTK fields and foot, the real portal frontend with a
  # test backend, the clipboard tools, gsettings for the GNOME keybinding
  libwayland-dev libwayland-bin wayland-protocols sway weston kwin-wayland mutter xwayland foot
  qt6-wayland gir1.2-gtk-4.0 xdg-desktop-portal wl-clipboard libglib2.0-bin
  gnome-settings-daemon-common
  # the Debian 13 desktop root of the GNOME and Plasma tests
  mmdebstrap
)
# npm may come with a nodejs build of its own; Debian's npm conflicts with that one.
command -v npm >/dev/null 2>&1 || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# ONNX Runtime 1.29 (C API 29): Microsoft's Linux build and headers, carried by an npm package.
ort_pkg="com.github.asus4.onnxruntime"
ort_ver="0.4.9"
ort_integrity="sha512-BkzxduSZ9IkeDP6Q8lz2TFU2ie7hSSvS7ZIfzMooExoq0CNzJnuuGaUJ7IsojBgqO4ouD1jXah8OYyJbCN29Fg=="
ort_dir="$here/third_party/onnxruntime"
# An older unpacking lacks the licence texts that installs ship: it is done again.
if [ ! -f "$ort_dir/.complete-$ort_ver" ] || [ ! -f "$ort_dir/ThirdPartyNotices.txt" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  (cd "$work" && npm pack --silent "$ort_pkg@$ort_ver" >/dev/null)
  tgz=$(ls "$work"/*.tgz)
  actual="sha512-$(openssl dgst -sha512 -binary "$tgz" | base64 -w0)"
  if [ "$actual" != "$ort_integrity" ]; then
    echo "setup: ONNX Runtime package fails its integrity check ($actual)" >&2
    exit 1
  fi
  lib="package/Plugins/Linux/x64/libonnxruntime.so"
  hdr="package/Plugins/iOS~/onnxruntime.xcframework/ios-arm64_x86_64-simulator/onnxruntime.framework/Headers"
  tar -xzf "$tgz" -C "$work" "$lib" "$hdr" package/LICENSE package/ThirdPartyNotices.txt
  rm -rf "$ort_dir"
  mkdir -p "$ort_dir/lib" "$ort_dir/include"
  cp "$work/$lib" "$ort_dir/lib/libonnxruntime.so.1"
  ln -sf libonnxruntime.so.1 "$ort_dir/lib/libonnxruntime.so"
  cp "$work/$hdr"/*.h "$ort_dir/include/"
  cp "$work/package/LICENSE" "$work/package/ThirdPartyNotices.txt" "$ort_dir/"
  touch "$ort_dir/.complete-$ort_ver"
  echo "setup: ONNX Runtime $ort_ver unpacked into third_party/onnxruntime"
fi
