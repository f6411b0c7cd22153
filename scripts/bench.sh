#!/usr/bin/env bash
# Builds the benchmarks into build-bench/ (or $BENCH_DIR) and runs them all, printing their
# tables: the machine, beat timing (idle and with every core loaded), tick work, start-up and
# memory, running cost, and the synthesiser's latency and start-up.  Asserts nothing.
#   QUICK=1 bash scripts/bench.sh   shorter runs (fewer beats, bars and seconds)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_DIR:-$here/../build-bench}
[ -d "$build" ] || build=$here/build-bench
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target clefwork bench_beat bench_tick bench_startup \
    bench_cost bench_synth >/dev/null
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}

if [ "${QUICK:-0}" = 1 ]; then
    beat_args=(--fast 30 --slow 8) tick_args=(--bars 500) cost_args=(--seconds 8) warm=3
else
    beat_args=() tick_args=() cost_args=() warm=5
fi

echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), Debian $(cat /etc/debian_version 2>/dev/null || echo '?'), load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Build: $build ($(grep -m1 CMAKE_BUILD_TYPE: "$build/CMakeCache.txt" | cut -d= -f2))"
quiet() { grep --line-buffered -v -e '^QStandardPaths' -e 'propagateSizeHints'; }
section() { echo; echo "==== $1"; }

section "1. Beat timing"
"$build/bench/bench_beat" "${beat_args[@]}" 2>&1 | quiet
section "2. Tick work"
"$build/bench/bench_tick" "${tick_args[@]}" 2>&1 | quiet
section "3. Start-up and memory"
"$build/bench/bench_startup" --warm "$warm" 2>&1 | quiet
section "4. Running cost"
"$build/bench/bench_cost" "${cost_args[@]}" 2>&1 | quiet
section "5. Synthesiser latency and start-up"
"$build/bench/bench_synth" 2>&1 | quiet
