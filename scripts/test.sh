#!/usr/bin/env bash
# Builds everything and runs every test. Tests that need an X server, a sound server or a
# bus start their own and stop them afterwards. Narrow a run with: scripts/test.sh -L unit
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bash "$here/scripts/build.sh"
cd "${BUILD_DIR:-$here/build}"
ctest --output-on-failure "$@"
