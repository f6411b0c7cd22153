#!/usr/bin/env bash
# Builds the tests with AddressSanitizer and UndefinedBehaviorSanitizer (the CMake preset "asan",
# into build-asan/ or $ASAN_BUILD_DIR) and runs them all.  Any sanitizer report fails the run.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${ASAN_BUILD_DIR:-$here/build-asan}
bash "$here/scripts/install-deps.sh"

# Tools the build runs (the picture drawer, the icon drawer) are sanitized too.
export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$here/tests/lsan.supp:print_suppressions=0
export QT_QPA_PLATFORM=offscreen

cd "$here"
cmake --preset asan -B "$build"
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
