#!/bin/sh
# Writes the seed archives of arj_fuzzer into the folder given: small archives Debian's arj
# makes with every method, folders, a garbled member and a set of volumes.
#   tests/fuzz/make_arj_seeds.sh <folder>
set -eu
out=$(mkdir -p "$1" && cd "$1" && pwd)
command -v arj >/dev/null || { echo "fuzz: arj is missing, no ARJ seeds" >&2; exit 0; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir -p sub/deeper
seq 1 700 | sed 's/$/ a line of text/' > text.txt
: > empty.txt
echo inner > sub/deeper/inner.txt
seq 1 4000 > mid.txt
for method in 0 1 2 3 4; do
    arj a -y -r -a1 -m$method "$out/m$method.arj" text.txt empty.txt sub >/dev/null
done
arj a -y -gsecret "$out/garbled.arj" text.txt >/dev/null
arj a -y -m0 -v10K "$work/vol.arj" mid.txt >/dev/null
cp "$work"/vol.a* "$out/"
