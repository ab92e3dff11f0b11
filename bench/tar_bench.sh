#!/bin/sh
# Prints one table from one run: tar.gz archives made and unpacked through zembrat-cli (the
# driver, libtar32.so and its helper, as a user runs them) beside GNU tar (with gzip) and
# bsdtar, on the corpus of bench/make_corpus.sh and on a tree of many small files
# (/usr/include), and our peak memory on a large archive. Ratios compare figures measured in
# this same run; extraction times are the best of three.
#   bench/tar_bench.sh [build folder, default build]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build}
cli=$(cd "$build" && pwd)/bin/zembrat-cli
[ -x "$cli" ] || { echo "no $cli: build first" >&2; exit 1; }
tools="tar gzip bsdtar /usr/bin/time"
. "$here/bench_lib.sh"
corpus

echo "corpus: $size bytes; tree: /usr/include ($(find /usr/include -type f | wc -l) files)"
echo
printf '%-28s %12s %9s %8s %9s %9s\n' "creating tar.gz" "bytes" "vs GNU" "secs" "speed" "peak MiB"
run tar czf gnu.tgz corpus.bin
gbytes=$(stat -c %s gnu.tgz) gsecs=$secs gkib=$kib
run "$cli" compress -q --format tgz -o ours corpus.bin
obytes=$(stat -c %s ours/corpus.tgz)
printf '%-28s %12s %9s %8s %9s %9s\n' "ours (level 6, two threads)" "$obytes" \
    "$(ratio "$obytes" "$gbytes")" "$secs" "$(ratio "$gsecs" "$secs")x" "$(mib "$kib")"
printf '%-28s %12s %9s %8s %9s %9s\n' "GNU tar czf" "$gbytes" "" "$gsecs" "" "$(mib "$gkib")"
gzip -t ours/corpus.tgz

echo
printf '%-28s %8s %9s %9s\n' "extracting, best of 3" "secs" "vs ours" "peak MiB"
tar czf tree.tgz -C /usr include
corpus_ok() { cmp -s out/corpus.bin corpus.bin; }
tree_ok() { [ "$(find out -type f | wc -l)" -ge "$(find /usr/include -type f | wc -l)" ]; }
# The readers take turns, so that what the file system keeps of an earlier run (inodes freed
# a moment ago cost more to reuse on ext4) weighs on each alike.
for set in corpus tree; do
    archive=gnu.tgz check=corpus_ok
    [ "$set" = tree ] && archive=tree.tgz check=tree_ok
    for attempt in 1 2 3; do
        for reader in ours gnu bsdtar; do
            rm -rf out && mkdir out
            case $reader in
                # A symbolic link in /usr/include that leads outside is refused by us: a
                # failure status, and every file is still checked.
                ours) run sh -c "'$cli' decompress -q -o out $archive || true" ;;
                gnu) run tar xzf "$archive" -C out ;;
                bsdtar) run bsdtar -xf "$archive" -C out ;;
            esac
            $check || { echo "$reader extracted something else" >&2; exit 1; }
            eval "best=\${best_$reader:-}"
            if [ -z "$best" ] || less "$secs" "$best"; then
                eval "best_$reader=$secs kib_$reader=$kib"
            fi
        done
    done
    printf '%-28s %8s %9s %9s\n' "ours ($set)" "$best_ours" "" "$(mib "$kib_ours")"
    printf '%-28s %8s %9s %9s\n' "GNU tar xzf ($set)" "$best_gnu" \
        "$(ratio "$best_gnu" "$best_ours")x" "$(mib "$kib_gnu")"
    printf '%-28s %8s %9s %9s\n' "bsdtar ($set)" "$best_bsdtar" \
        "$(ratio "$best_bsdtar" "$best_ours")x" "$(mib "$kib_bsdtar")"
    unset best_ours best_gnu best_bsdtar
done

echo
# Peak memory whatever the archive: a 1 GiB member, created and extracted.
head -c 1073741824 /dev/urandom > big.bin
run "$cli" compress -q --format tgz --level 1 -o big big.bin
echo "ours creating a 1 GiB member: peak $(mib "$kib") MiB"
rm -rf out && mkdir out
run "$cli" decompress -q -o out big/big.tgz
cmp -s out/big.bin big.bin || { echo "the 1 GiB member came out wrong" >&2; exit 1; }
echo "ours extracting it: peak $(mib "$kib") MiB"
echo
echo "speed: GNU's (or the peer's) time over ours (above 1 = ours faster). Our times include"
echo "zembrat-cli's start and the helper process; peak memory is the larger of our two"
echo "processes (the program and its helper; together they stay under twice that)."
