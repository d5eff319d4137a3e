#!/usr/bin/env bash
# bench/wim.sh [BUILD]: wall times, on a WIM of two editions whose SOFTWARE hives are some 40 MB
# (big_hive), of endpointfix-offline --apply --image against wimlib's own tool doing the same by
# hand: extracting each edition's hive, adding a changed copy back (wimlib-imagex update) and
# rebuilding the WIM (wimlib-imagex optimize), which keeps no descriptor. The changed copies are
# made before the tool's timer starts, so its figure holds wimlib's work alone. The median of RUNS
# runs (3) each, on fresh copies, and the ratio docs/performance.md states. A benchmark, not a
# test: the machine's load is printed beside the figures.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build/native}" && pwd) runs=${RUNS:-3}
load_before="$(cut -d" " -f1-3 /proc/loadavg) / "
tmp=$(mktemp -d) && trap 'fusermount -u -q "$tmp/m" 2>/dev/null; rm -rf "$tmp"' EXIT && cd "$tmp"
config=Windows/System32/config

"$build/bench/big_hive" B1 40 && cp B1 B2 && echo two >>B2 && mkdir m
for n in 1 2; do
    truncate -s 160M "$n.img" && mkntfs -F -Q -q "$n.img" 2>/dev/null && ntfs-3g "$PWD/$n.img" m &&
        mkdir -p "m/$config" && cp "B$n" "m/$config/SOFTWARE" && fusermount -u m
    # ntfs-3g may still be writing its last changes when the unmount returns: wait until it ends.
    for _ in $(seq 100); do pgrep -f -- "ntfs-3g $PWD/$n.img " >/dev/null || break; sleep 0.1; done
    if [ "$n" = 1 ]; then wimlib-imagex capture 1.img big.wim one >/dev/null; else
        wimlib-imagex append 2.img big.wim two >/dev/null; fi
    cp "B$n" "new$n" && { "$build/endpointfix-offline" --apply "new$n" >/dev/null || true; }
done

seconds() { date +%s.%N; }
by_hand() {
    local n
    for n in 1 2; do
        wimlib-imagex extract work.wim "$n" "/$config/SOFTWARE" --dest-dir="out$n" --no-acls >/dev/null
        wimlib-imagex update work.wim "$n" --command="add new$n /$config/SOFTWARE" >/dev/null
    done
    wimlib-imagex optimize work.wim >/dev/null
}
median() { tr ' ' '\n' | grep . | sort -n | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'; }
ours='' theirs=''
for _ in $(seq "$runs"); do
    cp big.wim work.wim && start=$(seconds)
    "$build/endpointfix-offline" --apply --image work.wim >/dev/null
    ours+="$(awk -v s="$start" -v e="$(seconds)" 'BEGIN { printf "%.2f", e - s }') "
    rm -rf out1 out2 && cp big.wim work.wim && start=$(seconds) && by_hand
    theirs+="$(awk -v s="$start" -v e="$(seconds)" 'BEGIN { printf "%.2f", e - s }') "
done
o=$(median <<<"$ours") t=$(median <<<"$theirs")
echo "WIM of $(stat -c %s big.wim) bytes, hives of $(stat -c %s B1) bytes; load average before and after: ${load_before}$(cut -d' ' -f1-3 /proc/loadavg)"
echo "endpointfix-offline --apply --image: $o s   (runs: $ours)"
echo "wimlib-imagex extract, update, optimize: $t s   (runs: $theirs)"
echo "ratio: $(awk -v o="$o" -v t="$t" 'BEGIN { printf "%.2f", o / t }')x (target at most 2x)"
