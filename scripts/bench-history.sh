#!/usr/bin/env bash
# Builds bench_history into build-bench/ (or $BENCH_DIR) and runs the practice history's
# benchmark: histories of a month, a year and five years of daily half-hour practice generated
# into the schema, the Progress window's opening time with each (warm and cold), the file sizes,
# and the cost of storing a bar on the event thread.  About five minutes; the files (about 1 GB)
# go to a temporary folder ($TMPDIR or --dir) and are removed afterwards.
#   QUICK=1 bash scripts/bench-history.sh       the month and the year only, one run each
#   bash scripts/bench-history.sh --runs 5      (arguments go to bench_history)
#   xvfb-run -a -s "-screen 0 1280x1024x24" env QT_QPA_PLATFORM=xcb \
#       build-bench/bench/bench_history --shot progress.png --tip stave   a picture to look at
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_DIR:-$here/build-bench}
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target bench_history >/dev/null
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), Debian $(cat /etc/debian_version 2>/dev/null || echo '?'), load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Source: commit $(git -C "$here" log -1 --format=%h 2>/dev/null || echo '?'), history/ $( [ -z "$(git -C "$here" status --porcelain -- history 2>/dev/null)" ] && echo as committed || echo with uncommitted changes)"
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
quiet() { grep --line-buffered -v -e '^QStandardPaths' -e 'propagateSizeHints'; }
if [ "${QUICK:-0}" = 1 ]; then
    "$build/bench/bench_history" --only month --runs 1 "$@" 2>&1 | quiet
    "$build/bench/bench_history" --only year --runs 1 "$@" 2>&1 | quiet
else
    "$build/bench/bench_history" "$@" 2>&1 | quiet
fi
