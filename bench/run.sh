#!/bin/sh
# Prints one table from one run: our LHA encoder (lh5, lh6, lh7; level 0 and 1 for lh7; on as
# many threads as the machine has cores, and lh5/lh7 again on one thread) beside
# jlha and gzip, our lh7 decoder beside lhasa, 7zz and bsdtar, peak memory of each, and our
# peak memory on a 1 GiB input. Ratios compare figures measured in this same run.
#   bench/run.sh [build folder, default build]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build}
bench=$(cd "$build" && pwd)/bin/lha_bench
[ -x "$bench" ] || { echo "no $bench: build the lha_bench target first" >&2; exit 1; }
tools="lha lhasa 7zz bsdtar gzip /usr/bin/time"
. "$here/bench_lib.sh"
corpus

mbs() { awk -v b="$1" -v s="$2" 'BEGIN { printf "%.1f", (s > 0 ? b / s / 1e6 : 0) }'; }

echo "corpus: $size bytes (C++ headers, cc1plus, .gz files from /usr/share/doc)"
echo
printf '%-22s %12s %9s %9s %9s %9s\n' "compression" "bytes" "vs jlha" "MB/s" "vs jlha" "peak MiB"
for m in 5 6 7; do
    run lha "co${m}q" "jlha$m.lzh" corpus.bin
    eval "jbytes$m=$(stat -c %s jlha$m.lzh) jsecs$m=$secs jkib$m=$kib"
done
row() {  # name bytes secs kib [jlha bytes] [jlha secs]
    printf '%-22s %12s %9s %9s %9s %9s\n' "$1" "$2" "${5:+$(ratio "$2" "$5")}" \
        "$(mbs "$size" "$3")" "${6:+$(ratio "$6" "$3")x}" "$(mib "$4")"
}
for m in 5 6 7; do
    for level in 0 1; do
        [ "$m" = 7 ] || [ "$level" = 0 ] || continue
        run "$bench" compress "-lh$m-" "$level" corpus.bin "ours$m$level.lzh"
        eval "jb=\$jbytes$m js=\$jsecs$m"
        row "ours lh$m level $level" "$(stat -c %s "ours$m$level.lzh")" "$secs" "$kib" "$jb" "$js"
    done
done
# The same parse on one thread (the archive is the same; only the time differs).
for m in 5 7; do
    run "$bench" compress "-lh$m-" 0:1 corpus.bin "single$m.lzh"
    cmp -s "single$m.lzh" "ours${m}0.lzh" || { echo "lh$m on one thread differs" >&2; exit 1; }
    eval "jb=\$jbytes$m js=\$jsecs$m"
    row "ours lh$m one thread" "$(stat -c %s "single$m.lzh")" "$secs" "$kib" "$jb" "$js"
done
for m in 5 6 7; do
    eval "row 'jlha lh$m' \$jbytes$m \$jsecs$m \$jkib$m"
done
for g in 6 9; do
    run sh -c "gzip -$g -c corpus.bin > gzip$g.gz"
    row "gzip -$g" "$(stat -c %s gzip$g.gz)" "$secs" "$kib" "$jbytes7" "$jsecs7"
done

echo
printf '%-22s %9s %9s %9s\n' "decoding, best of 3" "MB/s" "vs best" "peak MiB"
archive=ours70.lzh
# Extraction takes well under a second, where one run's noise is large: the best of three.
decode() {  # name command...
    name=$1; shift
    fastest=
    for attempt in 1 2 3; do
        rm -rf out && mkdir out
        run "$@"
        cmp -s out/corpus.bin corpus.bin || { echo "$name extracted wrong data" >&2; exit 1; }
        if [ -z "$fastest" ] || awk -v a="$secs" -v b="$fastest" 'BEGIN { exit !(a < b) }'; then
            fastest=$secs fastestkib=$kib
        fi
    done
    echo "$name $(mbs "$size" "$fastest") $(mib "$fastestkib")" >> decoders
}
: > decoders
decode ours "$bench" extract "$archive" out/corpus.bin
decode lhasa lhasa xqfw=out "$archive"
decode 7zz 7zz x -y -oout "$archive"
decode bsdtar bsdtar -xf "$archive" -C out
best=$(awk '$1 != "ours" && $2 > m { m = $2 } END { print m }' decoders)
while read -r name speed peak; do
    printf '%-22s %9s %9s %9s\n' "$name" "$speed" "$(ratio "$speed" "$best")x" "$peak"
done < decoders

echo
run "$bench" compress -lh7- 0 corpus.bin /dev/null 1073741824
echo "ours lh7 level 0 on a 1 GiB input: peak $(mib "$kib") MiB, $(mbs 1073741824 "$secs") MB/s"
