#!/bin/sh
# Prints one table from one run: ZIP archives made and unpacked through zembrat-cli (the
# driver, the library and the engine, as a user runs them) beside zip, 7zz, unzip, bsdtar and
# unar, on the corpus of bench/make_corpus.sh. Ratios compare figures measured in this same
# run; the last line sets our extraction against the fastest peer's.
#   bench/zip_bench.sh [build folder, default build]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build}
cli=$(cd "$build" && pwd)/bin/zembrat-cli
[ -x "$cli" ] || { echo "no $cli: build first" >&2; exit 1; }
tools="zip unzip 7zz bsdtar unar /usr/bin/time"
. "$here/bench_lib.sh"
corpus

ratio_digits=4
row() {  # name bytes secs kib [peer bytes] [peer secs]
    printf '%-26s %12s %9s %8s %9s %9s\n' "$1" "$2" "${5:+$(ratio "$2" "$5")}" "$3" \
        "${6:+$(ratio "$6" "$3")x}" "$(mib "$4")"
}

echo "corpus: $size bytes"
echo
printf '%-26s %12s %9s %8s %9s %9s\n' "compression" "bytes" "vs peer" "secs" "speed" "peak MiB"
run zip -q -6 zip6.zip corpus.bin
zbytes=$(stat -c %s zip6.zip) zsecs=$secs zkib=$kib
run 7zz a -tzip -mx9 7zz9.zip corpus.bin
sbytes=$(stat -c %s 7zz9.zip) ssecs=$secs skib=$kib
run "$cli" compress -q --format zip -o default corpus.bin
row "ours default (vs zip -6)" "$(stat -c %s default/corpus.zip)" "$secs" "$kib" "$zbytes" "$zsecs"
run "$cli" compress -q --format zip --level 9 -o nine corpus.bin
row "ours level 9 (vs 7zz -mx9)" "$(stat -c %s nine/corpus.zip)" "$secs" "$kib" "$sbytes" "$ssecs"
row "zip -6" "$zbytes" "$zsecs" "$zkib"
row "7zz a -tzip -mx9" "$sbytes" "$ssecs" "$skib"

echo
printf '%-26s %8s %9s %9s\n' "extraction (zip -6 file)" "secs" "vs ours" "peak MiB"
extract ours "$cli" decompress -q --overwrite -o out zip6.zip
osecs=$secs
printf '%-26s %8s %9s %9s\n' "ours" "$secs" "" "$(mib "$kib")"
extract bsdtar bsdtar -xf zip6.zip -C out
printf '%-26s %8s %9s %9s\n' "bsdtar" "$secs" "$(ratio "$secs" "$osecs")x" "$(mib "$kib")"
fastest=$secs
extract unzip unzip -q -o zip6.zip -d out
printf '%-26s %8s %9s %9s\n' "unzip" "$secs" "$(ratio "$secs" "$osecs")x" "$(mib "$kib")"
less "$secs" "$fastest" && fastest=$secs
extract 7zz 7zz x -y -oout zip6.zip
printf '%-26s %8s %9s %9s\n' "7zz" "$secs" "$(ratio "$secs" "$osecs")x" "$(mib "$kib")"
less "$secs" "$fastest" && fastest=$secs
extract unar unar -q -D -o out zip6.zip
printf '%-26s %8s %9s %9s\n' "unar" "$secs" "$(ratio "$secs" "$osecs")x" "$(mib "$kib")"
less "$secs" "$fastest" && fastest=$secs
echo
echo "ours / fastest peer: $(ratio "$osecs" "$fastest")"
echo
echo "speed: the peer's time over ours (above 1 = ours faster). Our extraction time includes"
echo "zembrat-cli's start; peak memory is the program's own."
