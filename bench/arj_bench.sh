#!/bin/sh
# Prints one table from one run: the corpus of bench/make_corpus.sh packed by Debian's arj
# with methods 1 and 4, then unpacked by libunarj32j.so (called through its command entry, as
# the archive component calls it, from a small C program) beside arj itself, 7zz and unar. Ratios compare figures
# measured in this same run.
#   bench/arj_bench.sh [build folder, default build]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build}
library=$(cd "$build" && pwd)/bin/libunarj32j.so
[ -f "$library" ] || { echo "no $library: build first" >&2; exit 1; }
tools="arj 7zz unar cc /usr/bin/time"
. "$here/bench_lib.sh"
corpus

# Our library's x command through its command entry, as the archive component calls it.
cat > unarj.c <<'C'
#include <dlfcn.h>
#include <stdio.h>
int main(int argc, char** argv) {
    void* library = argc == 3 ? dlopen(argv[1], RTLD_NOW) : NULL;
    int (*command)(void*, const char*, char*, unsigned) =
        library ? (int (*)(void*, const char*, char*, unsigned))dlsym(library, "Unarj") : NULL;
    static char output[65536];
    int code = command ? command(NULL, argv[2], output, sizeof output) : -1;
    if (code != 0) fprintf(stderr, "%d %s\n", code, output);
    return code != 0;
}
C
cc -O2 -o unarj unarj.c -ldl

ratio_digits=2

echo "corpus: $size bytes"
for method in 1 4; do
    run arj a -y -m$method m$method.arj corpus.bin
    echo
    echo "method $method: $(stat -c %s m$method.arj) bytes, arj packed it in $secs s"
    printf '%-10s %8s %9s %8s %9s %9s\n' "extraction" "secs" "vs ours" "cpu secs" "vs ours" "peak MiB"
    extract ours ./unarj "$library" "x -+ -m1 -n1 \"$work/m$method.arj\" \"$work/out/\""
    osecs=$secs ocpu=$cpu
    printf '%-10s %8s %9s %8s %9s %9s\n' "ours" "$secs" "" "$cpu" "" "$(mib "$kib")"
    extract arj sh -c "cd out && arj e -y ../m$method.arj"
    printf '%-10s %8s %9s %8s %9s %9s\n' "arj" "$secs" "$(ratio "$secs" "$osecs")x" "$cpu" \
        "$(ratio "$cpu" "$ocpu")x" "$(mib "$kib")"
    extract 7zz 7zz x -y -oout m$method.arj
    printf '%-10s %8s %9s %8s %9s %9s\n' "7zz" "$secs" "$(ratio "$secs" "$osecs")x" "$cpu" \
        "$(ratio "$cpu" "$ocpu")x" "$(mib "$kib")"
    extract unar unar -q -f -o out -D m$method.arj
    printf '%-10s %8s %9s %8s %9s %9s\n' "unar" "$secs" "$(ratio "$secs" "$osecs")x" "$cpu" \
        "$(ratio "$cpu" "$ocpu")x" "$(mib "$kib")"
done
echo
echo "speed: the peer's time over ours (above 1 = ours faster); cpu: user + system time, which"
echo "a busy machine disturbs less than the wall time."
