#!/bin/sh
# Builds the fuzz targets with clang (libFuzzer + AddressSanitizer + UndefinedBehaviorSanitizer)
# into build-fuzz/ and runs each for the given number of seconds (default 60).
#   tests/fuzz/run.sh [seconds] [target ...]
# Corpora grow in build-fuzz/corpus/<target>; crashes and hangs land in
# build-fuzz/artifacts/<target>/ and fail the run. Every run appends "target seconds-run
# executions findings" to build-fuzz/fuzz-stats.tsv. FUZZ_JOBS=2 runs two targets at a time.
set -eu

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${FUZZ_BUILD:-$root/build-fuzz}
seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=${*:-archive_fuzzer command_line_fuzzer path_text_fuzzer cmd_opt_fuzzer arj_fuzzer bga_fuzzer lzx_fuzzer rar_archive_fuzzer rar15_fuzzer rar20_fuzzer rar29_fuzzer rar_ppmd_fuzzer zip_fuzzer zip_shrink_fuzzer zip_reduce_fuzzer zip_implode_fuzzer zip_deflate64_fuzzer}
jobs=${FUZZ_JOBS:-1}
fixtures=${FUZZ_FIXTURES:-$root/../shared/fixtures/lha}
clangxx=${CLANGXX:-clang++-14}

if ! command -v "$clangxx" >/dev/null; then
    echo "fuzz: $clangxx is missing (Debian: clang-14 libclang-rt-14-dev)" >&2
    exit 1
fi
cmake -S "$root/tests/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="$clangxx" >/dev/null
cmake --build "$build" -j "${JOBS:-2}"
"$build/make_seeds" "$build/seeds"
"$root/tests/fuzz/make_arj_seeds.sh" "$build/seeds/arj_fuzzer"
"$build/bga_seeds" "$build/seeds/bga_fuzzer"
"$build/lzx_seeds" "$build/seeds/lzx_fuzzer"
"$root/tests/fuzz/make_rar_seeds.sh" "$build/seeds"
shared=$root/../shared/fixtures
"$build/zip_seeds" "$build/seeds" "$shared"/real/Zip.*.zip

run_one() {
    target=$1
    corpus=$build/corpus/$target
    artifacts=$build/artifacts/$target
    log=$build/logs/$target.log
    mkdir -p "$corpus" "$artifacts" "$build/logs"
    extra=""
    if [ "$target" = archive_fuzzer ] && [ -d "$fixtures" ]; then
        extra=$fixtures
    fi
    if [ "$target" = zip_fuzzer ] && [ -d "$shared/zip" ]; then
        extra="$shared/zip $shared/zip/hostile"
    fi
    dictionary=""
    if [ -f "$root/tests/fuzz/$target.dict" ]; then
        dictionary=-dict=$root/tests/fuzz/$target.dict
    fi
    status=0
    started=$(date +%s)
    # shellcheck disable=SC2086
    "$build/$target" "$corpus" "$build/seeds/$target" $extra $dictionary \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
        -artifact_prefix="$artifacts/" -print_final_stats=1 >"$log" 2>&1 || status=$?
    # A finding ends the run early: the time is what it ran.
    elapsed=$(($(date +%s) - started))
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    found=$(find "$artifacts" -type f | wc -l)
    printf '%s\t%s\t%s\t%s\n' "$target" "$elapsed" "${runs:-0}" "$found" >>"$build/fuzz-stats.tsv"
    echo "fuzz: $target: ${runs:-0} executions in ${elapsed}s, $found finding(s) (log: $log)"
    [ "$status" -eq 0 ] && [ "$found" -eq 0 ]
}

failed=0
set -- $targets
while [ $# -gt 0 ]; do
    if [ "$jobs" -ge 2 ] && [ $# -ge 2 ]; then
        run_one "$1" & first=$!
        run_one "$2" || failed=1
        wait "$first" || failed=1
        shift 2
    else
        run_one "$1" || failed=1
        shift
    fi
done
exit $failed
