#!/usr/bin/env bash
# The main job of Zembrat, headless: a small sample set is compressed file by file with
# zembrat-cli (plain and self-extracting archives), listed, tested, one self-extracting
# archive is run, everything is decompressed again and compared with the originals.
# Usage: scripts/demo.sh [BUILD_DIR]   (default: build). Writes into demo-out/.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
cli="$build/bin/zembrat-cli"
demo="$root/demo-out"

# Japanese names need a UTF-8 locale; keep the user's when it is one.
if [ "$(locale charmap 2>/dev/null)" != "UTF-8" ]; then
    export LC_ALL=C.UTF-8
fi

if [ -t 1 ]; then bold=$'\033[1m' plain=$'\033[0m'; else bold='' plain=''; fi
step() { printf '\n%s== %s%s\n' "$bold" "$*" "$plain"; }
# Echoes the command (the program by its name), then runs it.
show() {
    local shown=("$@")
    [ "$1" = "$cli" ] && shown[0]=zembrat-cli
    printf '$ %s\n' "${shown[*]}"
    "$@"
}

[ -x "$cli" ] || { echo "missing $cli: run 'make build' first" >&2; exit 1; }
rm -rf "$demo"
mkdir -p "$demo/samples/photos"
cd "$demo"

step "A small sample set: text, binary, a Japanese file name, a file in a subfolder"
{
    echo "Zembrat packs every selected file into its own archive."
    for i in $(seq 1 400); do echo "line $i: the quick brown fox jumps over the lazy dog"; done
} > samples/readme.txt
head -c 65536 /dev/urandom > samples/random.bin
for i in $(seq 1 200); do echo "書庫 $i: 圧縮と解凍のテスト"; done > "samples/日本語のメモ.txt"
seq 1 3000 > samples/photos/list.txt
files=(samples/readme.txt samples/random.bin "samples/日本語のメモ.txt" samples/photos/list.txt)
ls -lR samples

step "Compress each file into its own .lzh archive"
show "$cli" compress -o lzh "${files[@]}"

step "The same, as self-extracting programs (.exe), with the method chosen and -v"
show "$cli" compress --sfx --method lh5 -v -o sfx samples/readme.txt "samples/日本語のメモ.txt"

step "List the archives"
show "$cli" list lzh/*.lzh sfx/*.exe

step "Test the archives (every member decoded, CRC checked)"
show "$cli" test lzh/*.lzh sfx/*.exe

step "Run one self-extracting archive"
mkdir -p sfx-run
(cd sfx-run && show ../sfx/readme.exe)

step "Decompress everything again"
show "$cli" decompress -o restored lzh/*.lzh
show "$cli" decompress -o restored-sfx sfx/*.exe

step "A mixed batch: one archive of every kind Zembrat reads (and self-extracting programs), unpacked in one run"
mkdir -p mixed
show "$cli" compress -q --format zip -o mixed samples/readme.txt
show "$cli" compress -q --format tar.gz --sfx -o mixed samples/photos/list.txt
show "$cli" compress -q --format tar.bz2 -o mixed samples/random.bin
show "$cli" compress -q --format cab -o mixed "samples/日本語のメモ.txt"
show "$cli" compress -q --format gza -o mixed/gza samples/photos/list.txt
show "$cli" compress -q --format bza --sfx -o mixed/bza samples/readme.txt
show "$cli" compress -q --format cab --sfx -o mixed/cab samples/random.bin
mv mixed/gza/* mixed/bza/* mixed/cab/* mixed/ && rmdir mixed/gza mixed/bza mixed/cab
cp lzh/readme.lzh mixed/readme-lha.lzh
# ARJ and RAR are read only: an ARJ archive made by Debian's arj, and a RAR archive from the
# test archives beside the repository when they are there (no Debian tool writes RAR).
if command -v arj >/dev/null; then
    (cd samples && arj a -m1 -y ../mixed/memo.arj readme.txt >/dev/null)
fi
rar_sample="$root/../shared/fixtures/rar/read_format_rar.rar"
if [ -f "$rar_sample" ]; then cp "$rar_sample" mixed/sample.rar; fi
ls -l mixed
show "$cli" list mixed/*
show "$cli" decompress -o mixed-out mixed/*

step "Compare with the originals (each archive stores the file's name only)"
status=0
compare() {
    if cmp "$1" "$2"; then echo "identical: $1  $2"; else status=1; fi
}
for file in "${files[@]}"; do
    compare "$file" "restored/$(basename "$file")"
done
compare samples/readme.txt sfx-run/readme.txt
compare samples/readme.txt restored-sfx/readme.txt
compare "samples/日本語のメモ.txt" "restored-sfx/日本語のメモ.txt"
compare samples/readme.txt mixed-out/readme.txt
compare samples/photos/list.txt mixed-out/list.txt
compare samples/random.bin mixed-out/random.bin
compare "samples/日本語のメモ.txt" "mixed-out/日本語のメモ.txt"
if [ "$status" = 0 ]; then
    step "Round trip identical. Everything is in $demo"
else
    step "The round trip differs" >&2
fi
exit "$status"
