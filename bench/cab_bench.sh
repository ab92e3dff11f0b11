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
for tool in cc gcab cabextract 7zz /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$here/make_corpus.sh" corpus.bin 64 >&2
size=$(stat -c %s corpus.bin)
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
# Nothing on this machine writes compressed LZX: this writes LZX folders of uncompressed LZX
# blocks (the decoder's block and frame handling, not its Huffman decoding).
cat > lzxcab.c <<'C'
/* lzxcab OUT IN: a cabinet of IN in one LZX folder (window 2^21) made of uncompressed LZX
   blocks, one per 32 KiB data block. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
static void u16(FILE* f, unsigned v) { fputc(v & 255, f); fputc((v >> 8) & 255, f); }
static void u32(FILE* f, unsigned long v) { u16(f, v & 0xFFFF); u16(f, (v >> 16) & 0xFFFF); }
int main(int argc, char** argv) {
    if (argc != 3) return 2;
    FILE* in = fopen(argv[2], "rb");
    FILE* out = fopen(argv[1], "wb");
    if (!in || !out) return 1;
    fseek(in, 0, SEEK_END);
    const unsigned long size = (unsigned long)ftell(in);
    fseek(in, 0, SEEK_SET);
    const char* name = strrchr(argv[2], '/') ? strrchr(argv[2], '/') + 1 : argv[2];
    const unsigned long blocks = (size + 32767) / 32768;
    const unsigned long files = 36 + 8, data = files + 16 + strlen(name) + 1;
    const unsigned long total = data + blocks * 8 + blocks * 16 + size;
    fwrite("MSCF", 1, 4, out); u32(out, 0); u32(out, total); u32(out, 0); u32(out, files);
    u32(out, 0); fputc(3, out); fputc(1, out); u16(out, 1); u16(out, 1); u16(out, 0); u16(out, 0);
    u16(out, 0);
    u32(out, data); u16(out, (unsigned)blocks); u16(out, 3 | (21 << 8));
    u32(out, size); u32(out, 0); u16(out, 0); u16(out, 0x5021); u16(out, 0); u16(out, 0x20);
    fwrite(name, 1, strlen(name) + 1, out);
    static unsigned char buffer[32768];
    for (unsigned long i = 0; i < blocks; ++i) {
        const size_t got = fread(buffer, 1, sizeof buffer, in);
        /* Header bits, high bit first: the first block starts with "no E8 translation" (0);
           then type 3 (uncompressed) and the 24-bit length, padded to 32 bits. */
        unsigned long bits = ((3ul << 24) | got);
        bits = i == 0 ? bits << 4 : bits << 5;
        u32(out, 0); u16(out, (unsigned)(got + 16)); u16(out, (unsigned)got);
        u16(out, (unsigned)(bits >> 16)); u16(out, (unsigned)(bits & 0xFFFF));
        u32(out, 1); u32(out, 1); u32(out, 1);
        fwrite(buffer, 1, got, out);
    }
    return fclose(out) != 0;
}
C
cc -O2 -o lzxcab lzxcab.c
cab() { ./driver "$library" "$1"; }

# best <setup> <command...>: the best wall time (s) of three runs into $secs, the peak
# resident memory (KiB) of the largest process of that run into $kib; setup runs first.
best() {
    setup=$1
    shift
    secs=
    for i in 1 2 3; do
        sh -c "$setup"
        /usr/bin/time -f "%e %M" -o timing "$@" >/dev/null 2>run.log || {
            echo "failed: $*" >&2; cat run.log >&2; exit 1; }
        read -r s k < timing
        if [ -z "$secs" ] || awk -v a="$s" -v b="$secs" 'BEGIN { exit !(a < b) }'; then
            secs=$s kib=$k
        fi
    done
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

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
    printf '%-28s %8s %9s %9s\n' "extraction ($cabinet)" "secs" "vs ours" "peak MiB"
    best "rm -rf out" ./driver "$library" "-x -q \"$work/$cabinet\" \"$work/out\\\""
    check ours
    osecs=$secs
    printf '%-28s %8s %9s %9s\n' "ours (-x)" "$secs" "" "$(mib "$kib")"
    best "rm -rf out" cabextract -q -d out "$cabinet"
    check cabextract
    printf '%-28s %8s %9s %9s\n' "cabextract" "$secs" "$(ratio "$secs" "$osecs")x" "$(mib "$kib")"
    best "rm -rf out" 7zz x -y -oout "$cabinet"
    check 7zz
    printf '%-28s %8s %9s %9s\n' "7zz" "$secs" "$(ratio "$secs" "$osecs")x" "$(mib "$kib")"
done
echo
echo "speed: the peer's time over ours (above 1 = ours faster). Our times include the helper"
echo "process that decodes; peak memory is that of the largest process of the run."
