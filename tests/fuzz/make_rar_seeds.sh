#!/bin/sh
# Seeds for the RAR targets: the archives of versions 1.5 to 4.x among the fixtures for the
# archive target, and each member's packed data (behind the five-byte prefix the method
# targets read: its size and a flag byte) for the target of its method.
#   tests/fuzz/make_rar_seeds.sh SEEDS_FOLDER
set -eu
seeds=$1
fixtures=${FUZZ_RAR_FIXTURES:-$(cd "$(dirname "$0")/../.." && pwd)/../shared/fixtures}
mkdir -p "$seeds/rar_archive_fuzzer" "$seeds/rar15_fuzzer" "$seeds/rar20_fuzzer" \
    "$seeds/rar29_fuzzer" "$seeds/rar_ppmd_fuzzer"
for archive in "$fixtures"/real/Rar*.rar "$fixtures"/rar/read_format_rar*.rar \
    "$fixtures"/rar/read_format_rar_sfx.exe "$fixtures"/rar/hostile/read_format_rar*.rar; do
    [ -f "$archive" ] || continue
    [ "$(stat -c %s "$archive")" -le 65536 ] || continue
    cp "$archive" "$seeds/rar_archive_fuzzer/$(basename "$archive")"
done
# The members: a file header's version (byte 24) and packed size (bytes 7-10) lead to its
# data; python reads the blocks.
python3 - "$fixtures" "$seeds" <<'PY'
import os, struct, sys, glob
fixtures, seeds = sys.argv[1], sys.argv[2]
names = glob.glob(fixtures + "/real/Rar*.rar") + glob.glob(fixtures + "/rar/read_format_rar*.rar") \
    + glob.glob(fixtures + "/rar/hostile/read_format_rar*.rar")
for path in names:
    data = open(path, "rb").read()
    at = data.find(b"Rar!\x1a\x07\x00")
    if at < 0:
        continue
    at += 7
    count = 0
    while at + 7 <= len(data):
        kind = data[at + 2]
        flags, size = struct.unpack_from("<HH", data, at + 3)
        if size < 7:
            break
        packed = 0
        if kind == 0x74 and at + 32 <= len(data):
            packed, unpacked = struct.unpack_from("<II", data, at + 7)
            version, method = data[at + 24], data[at + 25]
            body = data[at + size: at + size + packed][:65000]
            target = {15: "rar15_fuzzer", 20: "rar20_fuzzer", 26: "rar20_fuzzer"}.get(version)
            if version == 29 and body:
                target = "rar_ppmd_fuzzer" if body[0] & 0x80 else "rar29_fuzzer"
            if target and method != 0x30 and body and not flags & 0x04:
                prefix = struct.pack("<I", min(unpacked, 0xFFFFF)) + b"\0"
                name = "%s.%d" % (os.path.basename(path), count)
                open(os.path.join(seeds, target, name), "wb").write(prefix + body)
                count += 1
        elif flags & 0x8000 and at + 11 <= len(data):
            packed = struct.unpack_from("<I", data, at + 7)[0]
        at += size + packed
PY
