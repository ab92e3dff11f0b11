#!/bin/sh
# The second test pass: the whole project built with AddressSanitizer and
# UndefinedBehaviorSanitizer (CMake preset "asan", build-asan/) and the whole CTest suite run
# there, the window tests on the offscreen Qt platform. Any finding aborts its test, so the
# pass fails. Leaks inside Qt and the font libraries are suppressed (tests/lsan.supp); ours
# never are.
#   tests/sanitize.sh            configure, build and test
#   JOBS=2 tests/sanitize.sh     parallel build and test jobs (default: nproc)
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${JOBS:-$(nproc)}
cd "$root"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=0"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$root/tests/lsan.supp:print_suppressions=0"

# Optimised (with debug info): the codec tests run several times faster than at -O0, which
# keeps both passes within CI's time on two cores; the sanitizers still check every access.
cmake --preset asan -DCMAKE_BUILD_TYPE="${SANITIZE_BUILD_TYPE:-RelWithDebInfo}" >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs" --timeout 1200
