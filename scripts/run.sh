#!/usr/bin/env bash
# Builds everything and starts the application (the tray application without arguments).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bash "$here/scripts/build.sh"
exec "${BUILD_DIR:-$here/build}/talvoro" "$@"
