#!/bin/sh
# Prints one table from one run: GZA and BZA archives made and unpacked by libbga32.so (called
# through its command entry, as the BGA driver calls it) beside gzip and bzip2 on the same
# data and on the same streams (each member's data is a whole gzip or bzip2 stream), on the
# corpus of bench/make_corpus.sh. Ratios compare figures measured in this same run.
#   bench/bga_bench.sh [build folder, default build]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build}
library=$(cd "$build" && pwd)/bin/libbga32.so
[ -f "$library" ] || { echo "no $library: build the bga32 target first" >&2; exit 1; }
tools="gzip bzip2 c++ od dd /usr/bin/time"
. "$here/bench_lib.sh"

# A caller of the library's command entry: bga <command line>.
cat > bga.cpp <<'CPP'
#include <dlfcn.h>
#include <cstdio>
int main(int argc, char** argv) {
    void* library = dlopen(argv[1], RTLD_NOW);
    auto* command = library ? reinterpret_cast<int (*)(void*, const char*, char*, unsigned)>(
                                  dlsym(library, "Bga")) : nullptr;
    static char output[65536];
    const int code = command ? command(nullptr, argv[2], output, sizeof output) : -1;
    if (code != 0) std::fprintf(stderr, "%d %s\n", code, output);
    return code != 0;
}
CPP
c++ -O2 -o bga bga.cpp -ldl
corpus

u16() { od -An -tu2 -j "$2" -N2 "$1" | tr -d ' '; }
u32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }
# stream <archive> <output>: the first member's data (a whole gzip or bzip2 stream).
stream() {
    skip=$((28 + $(u16 "$1" 24) + $(u16 "$1" 26)))
    dd if="$1" of="$2" bs=1M iflag=skip_bytes,count_bytes skip="$skip" count="$(u32 "$1" 8)" \
        status=none
}
row() {  # name bytes secs kib
    printf '%-28s %12s %8s %9s\n' "$1" "$2" "$3" "$(mib "$4")"
}

echo "corpus: $size bytes"
echo
printf '%-28s %12s %8s %9s\n' "compression" "bytes" "secs" "peak MiB"
run ./bga "$library" "a -n -j -l6 \"$work/c.gza\" \"$work/corpus.bin\""
gza_bytes=$(stat -c %s c.gza) gza_secs=$secs
row "ours GZA -l6" "$gza_bytes" "$secs" "$kib"
run sh -c 'gzip -6 -c corpus.bin > g6.gz'
row "gzip -6" "$(stat -c %s g6.gz)" "$secs" "$kib"
g6_bytes=$(stat -c %s g6.gz) g6_secs=$secs
run ./bga "$library" "a -n -j -l9 \"$work/c.bza\" \"$work/corpus.bin\""
row "ours BZA -l9" "$(stat -c %s c.bza)" "$secs" "$kib"
run sh -c 'bzip2 -9 -c corpus.bin > b9.bz2'
row "bzip2 -9" "$(stat -c %s b9.bz2)" "$secs" "$kib"
echo "GZA vs gzip -6: size $(ratio "$gza_bytes" "$g6_bytes"), speed $(ratio "$g6_secs" "$gza_secs")x"

echo
printf '%-28s %8s %9s %9s\n' "extraction (same streams)" "secs" "vs ours" "peak MiB"
stream c.gza s.gz
stream c.bza s.bz2
extract "ours GZA" ./bga "$library" "x -o \"$work/c.gza\" \"$work/out/\""
osecs=$secs
printf '%-28s %8s %9s %9s\n' "ours GZA" "$secs" "" "$(mib "$kib")"
extract "gzip -d" sh -c 'gzip -d -c s.gz > out/corpus.bin'
printf '%-28s %8s %9s %9s\n' "gzip -d" "$secs" "$(ratio "$secs" "$osecs")x" "$(mib "$kib")"
extract "ours BZA" ./bga "$library" "x -o \"$work/c.bza\" \"$work/out/\""
osecs=$secs
printf '%-28s %8s %9s %9s\n' "ours BZA" "$secs" "" "$(mib "$kib")"
extract "bzip2 -d" sh -c 'bzip2 -d -c s.bz2 > out/corpus.bin'
printf '%-28s %8s %9s %9s\n' "bzip2 -d" "$secs" "$(ratio "$secs" "$osecs")x" "$(mib "$kib")"
echo
echo "speed and vs ours: the peer's time over ours (above 1 = ours faster)."
