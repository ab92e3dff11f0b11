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
# Nothing on this machine writes LZX cabinets (gcab cannot): this small writer makes one, a
# verbatim block per 32 KiB frame with greedy matches (about 42% of the corpus; a real LZX
# compressor does better, which only makes the decoders' work lighter).
cat > lzxcab.c <<'C'
/* lzxcab OUT IN: a cabinet of IN in one LZX folder (window 2^21), compressed: one verbatim
   block per 32 KiB frame, greedy matches of 3 to 257 bytes up to 256 KiB back. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { FRAME = 32768, MAIN = 256 + 8 * 50, LENGTHS = 249, PRE = 20, HASH = 1 << 16,
       MAXBACK = 262140, CHAIN = 24 };

static unsigned char* out;
static size_t outLen;
static unsigned bitBuf, bitCount;
static void put16(unsigned v) { out[outLen++] = v & 255; out[outLen++] = (v >> 8) & 255; }
static void bits(unsigned value, unsigned count) {
    while (count > 0) {
        const unsigned take = count > 16 - bitCount ? 16 - bitCount : count;
        bitBuf = (bitBuf << take) | ((value >> (count - take)) & ((1u << take) - 1));
        bitCount += take;
        count -= take;
        if (bitCount == 16) { put16(bitBuf); bitBuf = 0; bitCount = 0; }
    }
}
static void align(void) { if (bitCount) bits(0, 16 - bitCount); }

/* Code lengths of at most limit bits for freq[0..n) (every symbol used gets a length). */
static void lengths(const unsigned* freqIn, int n, int limit, unsigned char* len) {
    static unsigned freq[MAIN];
    for (int i = 0; i < n; ++i) freq[i] = freqIn[i];
    for (;;) {
        static unsigned weight[2 * MAIN]; static int parent[2 * MAIN], node[MAIN];
        int count = 0;
        for (int i = 0; i < n; ++i) if (freq[i]) { weight[count] = freq[i]; node[count] = count; ++count; }
        int total = count, alive = count;
        static int active[2 * MAIN]; for (int i = 0; i < count; ++i) active[i] = i;
        while (alive > 1) { /* the two lightest */
            int a = -1, b = -1;
            for (int i = 0; i < alive; ++i) {
                const int x = active[i];
                if (a < 0 || weight[x] < weight[active[a]]) { b = a; a = i; }
                else if (b < 0 || weight[x] < weight[active[b]]) b = i;
            }
            const int x = active[a], y = active[b];
            weight[total] = weight[x] + weight[y]; parent[x] = parent[y] = total;
            active[a] = total; active[b] = active[--alive]; ++total;
        }
        int maxLen = 0, k = 0;
        for (int i = 0; i < n; ++i) {
            len[i] = 0;
            if (!freq[i]) continue;
            int depth = 0; for (int x = k++; x != total - 1; x = parent[x]) ++depth;
            len[i] = depth; if (depth > maxLen) maxLen = depth;
        }
        (void)node;
        if (maxLen <= limit) return;
        for (int i = 0; i < n; ++i) if (freq[i]) freq[i] = freq[i] / 2 + 1;
    }
}
static void codes(const unsigned char* len, int n, unsigned* code) {
    unsigned next = 0;
    for (int l = 1; l <= 16; ++l) {
        for (int i = 0; i < n; ++i) if (len[i] == l) code[i] = next++;
        next <<= 1;
    }
}
/* One part of a tree through the pretree, against the lengths of the block before. */
static void writeLens(const unsigned char* now, unsigned char* before, int n) {
    unsigned freq[PRE] = {0}; unsigned char sym[MAIN];
    for (int i = 0; i < n; ++i) { sym[i] = (before[i] - now[i] + 17) % 17; ++freq[sym[i]]; }
    int used = 0; for (int i = 0; i < PRE; ++i) used += freq[i] != 0;
    if (used < 2) { ++freq[freq[0] ? 1 : 0]; ++freq[2]; }
    unsigned char len[PRE]; unsigned code[PRE];
    lengths(freq, PRE, 15, len); codes(len, PRE, code);
    for (int i = 0; i < PRE; ++i) bits(len[i], 4);
    for (int i = 0; i < n; ++i) { bits(code[sym[i]], len[sym[i]]); before[i] = now[i]; }
}

static unsigned base[51], extra[50];
static int slotOf(unsigned formatted) { int s = 0; while (base[s + 1] <= formatted) ++s; return s; }

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    FILE* in = fopen(argv[2], "rb"); FILE* f = fopen(argv[1], "wb");
    if (!in || !f) return 1;
    fseek(in, 0, SEEK_END); const size_t size = (size_t)ftell(in); fseek(in, 0, SEEK_SET);
    unsigned char* data = malloc(size + 8);
    if (fread(data, 1, size, in) != size) return 1;
    for (int i = 0; i < 50; ++i) { extra[i] = i < 4 ? 0 : (i - 2) / 2 > 17 ? 17 : (i - 2) / 2; base[i + 1] = base[i] + (1u << extra[i]); }
    const char* name = strrchr(argv[2], '/') ? strrchr(argv[2], '/') + 1 : argv[2];
    const size_t frames = (size + FRAME - 1) / FRAME;
    const unsigned files = 44, start = files + 16 + strlen(name) + 1;
    /* Header with the cabinet's size patched at the end. */
    unsigned char head[512]; size_t h = 0;
#define H16(v) (head[h++] = (v) & 255, head[h++] = ((v) >> 8) & 255)
#define H32(v) (H16((v) & 0xFFFF), H16(((v) >> 16) & 0xFFFF))
    memcpy(head, "MSCF", 4); h = 4; H32(0); H32(0); H32(0); H32(files); H32(0);
    head[h++] = 3; head[h++] = 1; H16(1); H16(1); H16(0); H16(0); H16(0);
    H32(start); H16(frames); H16(3 | (21 << 8));
    H32(size); H32(0); H16(0); H16(0x5021); H16(0); H16(0x20);
    memcpy(head + h, name, strlen(name) + 1); h += strlen(name) + 1;
    fwrite(head, 1, h, f);
    int* chainHead = malloc(sizeof(int) * HASH); int* prev = malloc(sizeof(int) * size);
    for (int i = 0; i < HASH; ++i) chainHead[i] = -1;
    out = malloc(FRAME * 2 + 4096);
    static unsigned char mainBefore[MAIN], lenBefore[LENGTHS];
    static unsigned items[FRAME * 2]; /* literal: byte; match: 0x80000000 | length << 20 | offset */
    size_t total = h;
    for (size_t frame = 0; frame < frames; ++frame) {
        const size_t from = frame * FRAME, to = from + FRAME < size ? from + FRAME : size;
        size_t n = 0; unsigned mainFreq[MAIN] = {0}, lenFreq[LENGTHS] = {0};
        for (size_t at = from; at < to;) {
            unsigned bestLen = 0, bestOff = 0;
            if (at + 3 <= to) {
                const unsigned key = (data[at] << 8 ^ data[at + 1] << 4 ^ data[at + 2] * 2654435761u >> 16) & (HASH - 1);
                int tries = CHAIN;
                for (int c = chainHead[key]; c >= 0 && tries-- > 0 && at - (size_t)c <= MAXBACK; c = prev[c]) {
                    unsigned l = 0; const unsigned most = to - at < 257 ? (unsigned)(to - at) : 257;
                    while (l < most && data[c + l] == data[at + l]) ++l;
                    if (l > bestLen) { bestLen = l; bestOff = (unsigned)(at - c); if (l == most) break; }
                }
                prev[at] = chainHead[key]; chainHead[key] = (int)at;
            }
            if (bestLen >= 3) {
                items[n++] = 0x80000000u | (bestLen << 20) | bestOff;
                const unsigned slot = slotOf(bestOff + 2), header = bestLen - 2 < 7 ? bestLen - 2 : 7;
                ++mainFreq[256 + slot * 8 + header];
                if (header == 7) ++lenFreq[bestLen - 9];
                for (size_t k = at + 1; k < at + bestLen && k + 3 <= to; ++k) {
                    const unsigned key = (data[k] << 8 ^ data[k + 1] << 4 ^ data[k + 2] * 2654435761u >> 16) & (HASH - 1);
                    prev[k] = chainHead[key]; chainHead[key] = (int)k;
                }
                at += bestLen;
            } else {
                items[n++] = data[at]; ++mainFreq[data[at]]; ++at;
            }
        }
        /* Every tree needs two codes at least. */
        ++mainFreq[0]; ++mainFreq[1]; ++lenFreq[0]; ++lenFreq[1];
        unsigned char mainLen[MAIN], lenLen[LENGTHS]; unsigned mainCode[MAIN], lenCode[LENGTHS];
        lengths(mainFreq, MAIN, 16, mainLen); codes(mainLen, MAIN, mainCode);
        lengths(lenFreq, LENGTHS, 16, lenLen); codes(lenLen, LENGTHS, lenCode);
        outLen = 0; bitBuf = 0; bitCount = 0;
        if (frame == 0) bits(0, 1); /* no E8 translation */
        bits(1, 3); bits((unsigned)((to - from) >> 8), 16); bits((unsigned)((to - from) & 255), 8);
        writeLens(mainLen, mainBefore, 256); writeLens(mainLen + 256, mainBefore + 256, MAIN - 256);
        writeLens(lenLen, lenBefore, LENGTHS);
        for (size_t i = 0; i < n; ++i) {
            const unsigned item = items[i];
            if (!(item & 0x80000000u)) { bits(mainCode[item], mainLen[item]); continue; }
            const unsigned length = (item >> 20) & 0x7FF, offset = item & 0xFFFFF;
            const unsigned formatted = offset + 2, slot = slotOf(formatted);
            const unsigned header = length - 2 < 7 ? length - 2 : 7, sym = 256 + slot * 8 + header;
            bits(mainCode[sym], mainLen[sym]);
            if (header == 7) bits(lenCode[length - 9], lenLen[length - 9]);
            if (extra[slot]) bits(formatted - base[slot], extra[slot]);
        }
        align();
        unsigned char block[8] = {0, 0, 0, 0, outLen & 255, outLen >> 8, (to - from) & 255, (to - from) >> 8};
        fwrite(block, 1, 8, f); fwrite(out, 1, outLen, f); total += 8 + outLen;
    }
    fseek(f, 8, SEEK_SET);
    unsigned char sz[4] = {total & 255, (total >> 8) & 255, (total >> 16) & 255, (total >> 24) & 255};
    fwrite(sz, 1, 4, f);
    return fclose(f) != 0;
}
C
cc -O2 -o lzxcab lzxcab.c
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
        if [ -z "$secs" ] || awk -v a="$s" -v b="$secs" 'BEGIN { exit !(a < b) }'; then
            secs=$s kib=$k cpu=$(awk -v u="$u" -v y="$y" 'BEGIN { printf "%.2f", u + y }')
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
