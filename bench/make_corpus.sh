#!/bin/sh
# Builds the benchmark corpus from files on this machine: the C++ standard headers (text), the
# C++ compiler proper (a large program), and gzip-compressed documentation (data that does not
# compress again), concatenated into one file of at least 64 MiB.
#   bench/make_corpus.sh <output file> [MiB, default 64]
set -eu
out=$1
mib=${2:-64}
want=$((mib * 1024 * 1024))
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Text: every header under the newest /usr/include/c++/<version>, in a stable order.
headers=$(ls -d /usr/include/c++/* | sort -V | tail -n 1)
find "$headers" -type f | LC_ALL=C sort | xargs cat > "$tmp/text"
# A large binary: the compiler itself.
cc1plus=$(ls /usr/lib/gcc/*/*/cc1plus 2>/dev/null | sort -V | tail -n 1)
cat "$cc1plus" > "$tmp/binary"
# Already-compressed data, up to a quarter of the corpus.
find /usr/share/doc -name '*.gz' -type f | LC_ALL=C sort | xargs cat 2>/dev/null | head -c $((want / 4)) \
    > "$tmp/compressed"

cat "$tmp/text" "$tmp/binary" "$tmp/compressed" > "$out"
# Top up with the text again when the parts fall short.
while [ "$(stat -c %s "$out")" -lt "$want" ]; do
    cat "$tmp/text" >> "$out"
done
ls -l "$out" | awk '{ printf "corpus: %s bytes (text %s, binary %s, compressed %s)\n", $5, '"$(stat -c %s "$tmp/text")"', '"$(stat -c %s "$tmp/binary")"', '"$(stat -c %s "$tmp/compressed")"' }'
