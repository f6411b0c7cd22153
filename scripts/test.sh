#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test.  Exits 0 only when all pass.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bash "$here/scripts/install-deps.sh"
bash "$here/scripts/build.sh"
export QT_QPA_PLATFORM=offscreen
cd "${BUILD_DIR:-$here/build}"
ctest --output-on-failure -j"$(nproc)"
