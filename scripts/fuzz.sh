#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (into build-fuzz/ or $FUZZ_BUILD_DIR) and runs each for
# a bounded time:  bash scripts/fuzz.sh [seconds per target, default 60] [target ...]
# A crash, a sanitizer report, a time-out or running out of memory fails the run; the input that
# did it is left in <build>/artifacts/ (replay: <build>/fuzz/<target> <file>).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$here/build-fuzz}
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_notes fuzz_skinfile fuzz_editlists)
case $seconds in '' | *[!0-9]*) echo "fuzz.sh: seconds must be a whole number" >&2; exit 2 ;; esac

bash "$here/scripts/install-deps.sh"
export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$here/tests/lsan.supp:print_suppressions=0
export QT_QPA_PLATFORM=offscreen

CC=clang CXX=clang++ cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS=-O1 -DCLEFWORK_FUZZ=ON -DCLEFWORK_TESTS=OFF -DCLEFWORK_BENCH=OFF >/dev/null
cmake --build "$build" --target "${targets[@]}" -j"$(nproc)"

mkdir -p "$build/artifacts"
failed=()
for t in "${targets[@]}"; do
  corpus=$build/corpus/$t
  mkdir -p "$corpus"
  seeds=()
  [ -d "$here/fuzz/corpus/$t" ] && seeds=("$here/fuzz/corpus/$t")
  echo "fuzz.sh: $t for $seconds s"
  if "$build/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -max_len=4096 \
      -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-" "$corpus" "${seeds[@]}" \
      >"$build/$t.log" 2>&1; then
    grep -E "^stat::number_of_executed_units|^#[0-9]+.*DONE" "$build/$t.log" | tail -2 || true
  else
    echo "fuzz.sh: $t FAILED; see $build/$t.log and $build/artifacts/" >&2
    grep -E "ERROR|SUMMARY|runtime error|fuzz_notes:|deadly signal|Test unit written" "$build/$t.log" | head -20 >&2 || true
    failed+=("$t")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz.sh: failed: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz.sh: ${#targets[@]} targets ran $seconds s each without a finding"
