#!/usr/bin/env bash
# Installs what is needed, builds, and opens Clefwork.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bash "$here/scripts/install-deps.sh"
bash "$here/scripts/build.sh"
exec "${BUILD_DIR:-$here/build}/clefwork" "$@"
