#!/bin/sh
# Prints one table from one run: cabinets made and unpacked through libcab32.so (loaded and
# called as the archive component calls it, by a small C driver built here) beside gcab,
# cabextract and 7zz, on the corpus of bench/make_corpus.sh. Ratios compare figures measured
# in this same run; each time is the best of three.
#   bench/cab_bench.sh [build folder, default build]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build}
library=$(cd "$build" && pwd)/bin/libcab32.so
[ -f "$library" ] || { echo "no $library: build first" >&2; exit 1; }
tools="cc c++ gcab cabextract 7zz /usr/bin/time"
. "$here/bench_lib.sh"
corpus
mkdir src && mv corpus.bin src/

cat > driver.c <<'C'
#include <dlfcn.h>
#include <stdio.h>
int main(int argc, char** argv) {
    void* library = argc == 3 ? dlopen(argv[1], RTLD_NOW) : 0;
    if (!library) return 2;
    int (*command)(void*, const char*, char*, unsigned) =
        (int (*)(void*, const char*, char*, unsigned))dlsym(library, "Cab");
    static char output[1 << 16];
    const int code = command(0, argv[2], output, sizeof output);
    if (code != 0) fprintf(stderr, "%d %s\n", code, output);
    return code != 0;
}
C
cc -O2 -o driver driver.c -ldl
# Nothing on this machine writes LZX cabinets (gcab cannot): the tests' small LZX writer
# (tests/support/lzx_cabinet_writer.h) makes one, a verbatim block per 32 KiB frame with greedy
# matches up to 256 KiB back (about 42% of the corpus; a real LZX compressor does better, which
# only makes the decoders' work lighter).
cat > lzxcab.cpp <<'C'
// lzxcab OUT IN: a cabinet of IN in one LZX folder (window 2^21).
#include <fstream>
#include <iterator>
#include "lzx_cabinet_writer.h"
int main(int argc, char** argv) {
    if (argc != 3) return 2;
    std::ifstream in(argv[2], std::ios::binary);
    const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string name = argv[2];
    name = name.substr(name.find_last_of('/') + 1);
    std::ofstream(argv[1], std::ios::binary) << zembrat::testing::LzxCabinet(data, name);
    return 0;
}
C
c++ -O2 -std=c++20 -I"$here/../tests/support" -o lzxcab lzxcab.cpp
cab() { ./driver "$library" "$1"; }

# best <setup> <command...>: the best wall time (s) of three runs into $secs, the CPU time
# (user + system, s, children included) of that run into $cpu, the peak resident memory
# (KiB) of its largest process into $kib; setup runs first.
best() {
    setup=$1
    shift
    secs=
    for i in 1 2 3; do
        sh -c "$setup"
        /usr/bin/time -f "%e %M %U %S" -o timing "$@" >/dev/null 2>run.log || {
            echo "failed: $*" >&2; cat run.log >&2; exit 1; }
        read -r s k u y < timing
        if [ -z "$secs" ] || less "$s" "$secs"; then
            secs=$s kib=$k cpu=$(awk -v u="$u" -v y="$y" 'BEGIN { printf "%.2f", u + y }')
        fi
    done
}

echo "corpus: $size bytes"
echo
printf '%-28s %12s %9s %8s %9s %9s\n' "creation (MSZIP)" "bytes" "vs gcab" "secs" "speed" "peak MiB"
best "rm -f gcab.cab" sh -c "cd src && gcab -c -z ../gcab.cab corpus.bin"
gbytes=$(stat -c %s gcab.cab) gsecs=$secs gkib=$kib
best "rm -f ours.cab" ./driver "$library" "-a -q \"$work/ours.cab\" \"$work/src\\\" corpus.bin"
obytes=$(stat -c %s ours.cab)
printf '%-28s %12s %9s %8s %9s %9s\n' "ours (-a)" "$obytes" "$(ratio "$obytes" "$gbytes")" \
    "$secs" "$(ratio "$gsecs" "$secs")x" "$(mib "$kib")"
printf '%-28s %12s %9s %8s %9s %9s\n' "gcab -c -z" "$gbytes" "" "$gsecs" "" "$(mib "$gkib")"

check() { cmp -s out/corpus.bin src/corpus.bin || { echo "$1 extracted something else" >&2; exit 1; }; }
./lzxcab lzx.cab src/corpus.bin
for cabinet in gcab.cab lzx.cab; do
    echo
    printf '%-28s %8s %9s %9s %9s\n' "extraction ($cabinet)" "secs" "vs ours" "cpu secs" "peak MiB"
    best "rm -rf out" ./driver "$library" "-x -q \"$work/$cabinet\" \"$work/out\\\""
    check ours
    osecs=$secs
    printf '%-28s %8s %9s %9s %9s\n' "ours (-x)" "$secs" "" "$cpu" "$(mib "$kib")"
    best "rm -rf out" cabextract -q -d out "$cabinet"
    check cabextract
    printf '%-28s %8s %9s %9s %9s\n' "cabextract" "$secs" "$(ratio "$secs" "$osecs")x" "$cpu" "$(mib "$kib")"
    best "rm -rf out" 7zz x -y -oout "$cabinet"
    check 7zz
    printf '%-28s %8s %9s %9s %9s\n' "7zz" "$secs" "$(ratio "$secs" "$osecs")x" "$cpu" "$(mib "$kib")"
done
echo
echo "speed: the peer's time over ours (above 1 = ours faster). Our times include the helper"
echo "process that decodes (its CPU time too); peak memory is that of the largest process."
