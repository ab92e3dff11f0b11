#!/bin/sh
# Prints one table from one run: extracting the largest RAR fixtures (and two volume sets)
# through libunrar32.so, called in-process as the archive component calls it (the helper
# process it spawns is counted), beside bsdtar run as a program. Each archive is extracted
# REPEAT times by each; the figures are the mean wall time of one extraction, and the peak
# resident memory of our process (python and the library) and of its helper.
#   bench/rar_bench.sh [build folder, default build] [repeat, default 20]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
repeat=${2:-20}
library=$build/bin/libunrar32.so
fixtures=$here/../../shared/fixtures/rar
[ -r "$library" ] || { echo "no $library: build the unrar32 target first" >&2; exit 1; }
tools="bsdtar python3"
. "$here/bench_lib.sh"

python3 - "$library" "$fixtures" "$work" "$repeat" <<'PY'
import ctypes, filecmp, os, resource, shutil, subprocess, sys, time

library, fixtures, work, repeat = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
unrar = ctypes.CDLL(library)
unrar.Unrar.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_uint32]
output = ctypes.create_string_buffer(64 * 1024)
cases = [
    ("read_format_rar_binary_data.rar", None),
    ("read_format_rar_filter.rar", None),
    ("read_format_rar5_arm.rar", None),
    ("multivolume/read_format_rar5_multiarchive_solid.part01.rar", "4 volumes"),
    ("multivolume/rar_multivolume_uncompressed_files.part01.rar", "10 volumes"),
]

def ours(archive, folder):
    line = '-x -u -y  "%s" "%s/" ' % (archive, folder)
    code = unrar.Unrar(None, line.encode(), output, len(output))
    if code != 0:
        sys.exit("ours failed on %s: %s" % (archive, output.value.decode(errors="replace")))

def bsdtar(archive, folder):
    subprocess.run(["bsdtar", "-xf", archive, "-C", folder], check=True)

def mean_seconds(extract, archive, folder):
    start = time.perf_counter()
    for _ in range(repeat):
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        extract(archive, folder)
    return (time.perf_counter() - start) / repeat

def same_tree(a, b):
    compare = filecmp.dircmp(a, b)
    if compare.left_only or compare.right_only or compare.diff_files or compare.funny_files:
        return False
    return all(same_tree(os.path.join(a, d), os.path.join(b, d)) for d in compare.common_dirs)

# Ours first, all of it, so that the helper's peak is read before bsdtar runs.
mine = {name: mean_seconds(ours, os.path.join(fixtures, name), os.path.join(work, "ours"))
        for name, _ in cases}
own = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
helper = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
print("repeat: %d extractions of each archive by each reader" % repeat)
print("%-62s %8s %8s %9s %7s" % ("archive", "bytes", "ours ms", "bsdtar ms", "speed"))
for name, note in cases:
    archive = os.path.join(fixtures, name)
    size = os.path.getsize(archive)
    label = name + (" (" + note + ")" if note else "")
    if note:
        # bsdtar takes a volume set only as one file: sets are timed for ours alone.
        print("%-62s %8d %8.2f %9s %7s" % (label, size, mine[name] * 1000, "-", "-"))
        continue
    theirs = mean_seconds(bsdtar, archive, os.path.join(work, "bsdtar"))
    mean_seconds(ours, archive, os.path.join(work, "ours"))
    if not same_tree(os.path.join(work, "ours"), os.path.join(work, "bsdtar")):
        sys.exit("ours and bsdtar extracted different files from " + name)
    print("%-62s %8d %8.2f %9.2f %6.2fx" % (label, size, mine[name] * 1000, theirs * 1000,
                                             theirs / mine[name]))
print()
print("peak resident memory: our process (python and the library) %.1f MiB,"
      " its helper %.1f MiB" % (own / 1024, helper / 1024))
PY
