# Shared by the benchmark scripts (sourced): a scratch folder that goes at exit, the corpus of
# make_corpus.sh in it as corpus.bin ($size bytes), and the measuring helpers.
#   . bench/bench_lib.sh   (with $here set to the bench folder)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$here/make_corpus.sh" corpus.bin 64 >&2
size=$(stat -c %s corpus.bin)

# run <command...>: its wall time (s) and peak resident memory (KiB) into $secs, $kib.
run() {
    /usr/bin/time -f "%e %M" -o timing "$@" >/dev/null 2>run.log || {
        echo "failed: $*" >&2; cat run.log >&2; exit 1; }
    read -r secs kib < timing
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
# less <a> <b>: true when the number a is below b.
less() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a < b) }'; }
