#!/usr/bin/env bash
# Builds bench_judge into build-bench/ (or $BENCH_DIR) and runs the beat judge's benchmark:
# rendered performances with known mistakes through the note detector and the beat matcher,
# verdicts against the truth.
#   QUICK=1 bash scripts/bench-judge.sh     8 bars a take (under a minute; the full run 48, a few minutes)
#   bash scripts/bench-judge.sh --latency 0 --verbose   (arguments go to bench_judge)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_DIR:-$here/build-bench}
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target bench_judge >/dev/null
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), Debian $(cat /etc/debian_version 2>/dev/null || echo '?'), load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Source: commit $(git -C "$here" log -1 --format=%h 2>/dev/null || echo '?'), listen/ $( [ -z "$(git -C "$here" status --porcelain -- listen 2>/dev/null)" ] && echo as committed || echo with uncommitted changes)"
args=()
[ "${QUICK:-0}" = 1 ] && args+=(--quick)
"$build/bench/bench_judge" "${args[@]}" "$@"
