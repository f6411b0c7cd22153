#!/usr/bin/env bash
# Builds bench_detect into build-bench/ (or $BENCH_DIR) and runs the note detector's benchmark:
# the detector and the stock `aubionotes` side by side.
#   QUICK=1 bash scripts/bench-detect.sh    a subset (14 pitches, one velocity; about a minute)
#   bash scripts/bench-detect.sh --no-baseline   (arguments go to bench_detect)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_DIR:-$here/build-bench}
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target bench_detect >/dev/null
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), Debian $(cat /etc/debian_version 2>/dev/null || echo '?'), load average $(cut -d' ' -f1-3 /proc/loadavg)"
args=()
[ "${QUICK:-0}" = 1 ] && args+=(--quick)
"$build/bench/bench_detect" "${args[@]}" "$@"
