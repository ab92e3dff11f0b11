# Shared by the benchmark scripts (sourced, with $here set to the bench folder and $tools
# naming the programs the script needs): the tools checked, a scratch folder that goes at exit
# (the current folder from then on), the corpus and the measuring helpers.
#   tools="gzip /usr/bin/time"; . "$here/bench_lib.sh"
for tool in $tools; do
    command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# corpus: the corpus of make_corpus.sh as corpus.bin, its size (bytes) in $size.
corpus() {
    "$here/make_corpus.sh" corpus.bin 64 >&2
    size=$(stat -c %s corpus.bin)
}

# run <command...>: its wall time (s), CPU time (user + system, s) and peak resident memory
# (KiB) into $secs, $cpu, $kib.
run() {
    /usr/bin/time -f "%e %U %S %M" -o timing "$@" >/dev/null 2>run.log || {
        echo "failed: $*" >&2; cat run.log >&2; exit 1; }
    read -r secs user system kib < timing
    cpu=$(awk -v u="$user" -v s="$system" 'BEGIN { printf "%.2f", u + s }')
}
# extract <name> <command...>: runs the command (as run does) into a fresh folder out/, which
# must then hold the corpus as it was.
extract() {
    name=$1
    shift
    rm -rf out && mkdir out
    run "$@"
    cmp -s out/corpus.bin corpus.bin || { echo "$name extracted something else" >&2; exit 1; }
}
# ratio <a> <b>: a / b with $ratio_digits decimals (default 3).
ratio() {
    awk -v a="$1" -v b="$2" -v f="%.${ratio_digits:-3}f" 'BEGIN { printf f, (b > 0 ? a / b : 0) }'
}
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
# less <a> <b>: true when the number a is below b.
less() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a < b) }'; }
