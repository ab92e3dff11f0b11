#!/bin/sh
# Prints one table from one run: the RAR archives at hand of versions 2.9 to 4.x (LZ, filters,
# PPMd, a solid stream, a volume set) and one of each older method, extracted by
# libunrar32.so (called through its command entry from a small C program, as the archive
# component calls it, so that process start-up counts) beside unar and bsdtar run as
# programs. Each figure is the best of REPEAT runs; every extraction is compared with unar's.
# No program on this machine writes RAR archives (rar is not in Debian main), so the largest
# archives are the fixtures'.
#   bench/rar_bench.sh [build folder, default build] [repeat, default 3]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
repeat=${2:-3}
library=$build/bin/libunrar32.so
fixtures=$here/../../shared/fixtures
[ -r "$library" ] || { echo "no $library: build the unrar32 target first" >&2; exit 1; }
tools="unar bsdtar cc /usr/bin/time"
. "$here/bench_lib.sh"

cat > unrar.c <<'C'
#include <dlfcn.h>
#include <stdio.h>
int main(int argc, char** argv) {
    void* library = argc == 3 ? dlopen(argv[1], RTLD_NOW) : NULL;
    int (*command)(void*, const char*, char*, unsigned) =
        library ? (int (*)(void*, const char*, char*, unsigned))dlsym(library, "Unrar") : NULL;
    static char output[65536];
    int code = command ? command(NULL, argv[2], output, sizeof output) : -1;
    if (code != 0) fprintf(stderr, "%d %s\n", code, output);
    return code != 0;
}
C
cc -O2 -o unrar unrar.c -ldl

# best <command...>: the best wall time of $repeat runs into $secs, with that run's CPU time
# and the largest peak memory into $cpu and $kib; the output stays in out/. A failing command
# leaves $secs empty.
best() {
    bsecs="" bcpu="" bkib=0
    i=0
    while [ "$i" -lt "$repeat" ]; do
        rm -rf out && mkdir out
        if ! /usr/bin/time -f "%e %U %S %M" -o timing "$@" >/dev/null 2>run.log; then
            secs="" cpu="" kib=0
            return 0
        fi
        read -r s u y k < timing
        c=$(awk -v u="$u" -v s="$y" 'BEGIN { printf "%.2f", u + s }')
        if [ -z "$bsecs" ] || less "$s" "$bsecs"; then bsecs=$s bcpu=$c; fi
        [ "$k" -gt "$bkib" ] && bkib=$k
        i=$((i + 1))
    done
    secs=$bsecs cpu=$bcpu kib=$bkib
}

ratio_digits=2
printf '%-64s %9s %9s %7s %7s %7s %7s %7s %7s\n' archive packed output "ours s" "MiB" \
    "unar s" "MiB" "bsdtar" "MiB"
for case in \
    "rar/hostile/read_format_rar_multi_lzss_blocks.rar:2.9 LZ" \
    "rar/read_format_rar_binary_data.rar:2.9 LZ" \
    "rar/read_format_rar_filter.rar:2.9 LZ + E8" \
    "real/Rar.solid.rar:2.9 LZ solid" \
    "rar/hostile/read_format_rar_ppmd_lzss_conversion.rar:2.9 PPMd + LZ" \
    "rar/multivolume/read_format_rar_multivolume.part0001.rar:2.9 PPMd, 4 volumes" \
    "real/Rar2.rar:2.0" \
    "real/Rar15.rar:1.5"; do
    name=${case%%:*}
    kind=${case#*:}
    archive=$fixtures/$name
    packed=$(stat -c %s "$archive")
    best unar -q -f -D -o out "$archive"
    usecs=$secs ukib=$kib
    output=$(du -sb out | cut -f1)
    rm -rf reference && mv out reference
    best ./unrar "$library" "-x -y  \"$archive\" \"$work/out/\" "
    osecs=$secs okib=$kib
    diff -r --no-dereference out reference >/dev/null ||
        { echo "ours and unar extracted different files from $name" >&2; exit 1; }
    best bsdtar -xf "$archive" -C out
    if [ -n "$secs" ]; then bsecs=$secs bmib=$(mib "$kib"); else bsecs=fails bmib=-; fi
    printf '%-64s %9s %9s %7s %7s %7s %7s %7s %7s\n' "$(basename "$name") ($kind)" "$packed" \
        "$output" "$osecs" "$(mib "$okib")" "$usecs" "$(mib "$ukib")" "$bsecs" "$bmib"
done
echo
echo "seconds: best wall time of $repeat runs, process start-up included; MiB: peak resident"
echo "memory; bsdtar 'fails' where libarchive cannot read the archive."
