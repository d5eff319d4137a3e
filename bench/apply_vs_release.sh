#!/usr/bin/env bash
# bench/apply_vs_release.sh [MEGABYTES]: endpointfix-offline --apply of this tree beside release
# 1.2.0's (commit bc22583, or the commit BASE names, checked out from this repository's history
# into a temporary worktree and built there with its own native preset), on a SOFTWARE hive that
# bench/big_hive makes of some MEGABYTES (40 by default: 35,610,624 bytes, 150 changes to make).
# The two run in pairs, the base then this tree, each run on a fresh copy of the hive, measured
# by /usr/bin/time -v:
# its wall clock (to 10 ms) and its peak resident memory. One pair warms the page cache and is
# not counted; PAIRS (5) are. Prints every counted run, the medians, and the median of the pairs'
# ratios; exits 1 where either median ratio is over LIMIT (1.25), 2 where a build or a run fails.
# A benchmark, not a test: the machine's load is printed beside the figures.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
megabytes=${1:-40} pairs=${PAIRS:-5} limit=${LIMIT:-1.25} base=${BASE:-bc22583}
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
tmp=$(mktemp -d)
cleanup() {
    git -C "$here" worktree remove --force "$tmp/base" >/dev/null 2>&1 || true
    rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "apply_vs_release: $*" >&2; exit 2; }

# build TREE TARGET...: the targets of TREE's native preset, quietly.
build() {
    (cd "$1" && cmake --preset native >/dev/null && cmake --build --preset native -j"$(nproc)" \
        --target "${@:2}" >/dev/null) || fail "cannot build ${*:2} in $1"
}
git -C "$here" worktree add --detach "$tmp/base" "$base" >/dev/null 2>&1 ||
    fail "cannot check out $base from this repository's history"
build "$here" endpointfix_offline big_hive
build "$tmp/base" endpointfix_offline
old=$tmp/base/build/native/endpointfix-offline new=$here/build/native/endpointfix-offline
"$here/build/native/bench/big_hive" "$tmp/SOFTWARE" "$megabytes" || fail "cannot make the hive"

# timed PROGRAM: its --apply on a fresh copy of the hive, as "SECONDS KIBIBYTES".
timed() {
    cp "$tmp/SOFTWARE" "$tmp/copy" || fail "cannot copy the hive"
    /usr/bin/time -v -o "$tmp/time" "$1" --apply "$tmp/copy" >/dev/null 2>"$tmp/err" ||
        fail "$1 --apply exited $?: $(head -n 1 "$tmp/err")"
    awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, t, ":"); for (i = 1; i <= n; ++i) s = s * 60 + t[i] }
        /Maximum resident set size/ { k = $2 } END { print s, k }' "$tmp/time"
}
timed "$old" >/dev/null && timed "$new" >/dev/null  # the warm-up pair
echo "--apply on a hive of $(stat -c %s "$tmp/SOFTWARE") bytes: $base beside this tree"
printf '%-6s %12s %12s %12s %12s\n' pair "base wall" "base RSS" "wall" "RSS"
for pair in $(seq "$pairs"); do
    a=$(timed "$old") || exit 2
    b=$(timed "$new") || exit 2
    read -r a_s a_k b_s b_k <<<"$a $b"
    [ -n "$b_k" ] || fail "a run of pair $pair was not measured"
    printf '%-6s %10.2f s %8d KiB %10.2f s %8d KiB\n' "$pair" "$a_s" "$a_k" "$b_s" "$b_k"
    echo "$a_s $a_k $b_s $b_k" >>"$tmp/pairs"
done
echo "load average before and after: $load_before / $(cut -d' ' -f1-3 /proc/loadavg)"
# column N of the pairs' figures (5: wall ratio, 6: memory ratio), its median
median() {
    awk -v c="$1" '{ $5 = $3 / $1; $6 = $4 / $2; print $c }' "$tmp/pairs" | sort -g |
        awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
awk -v as="$(median 1)" -v ak="$(median 2)" -v bs="$(median 3)" -v bk="$(median 4)" \
    -v rs="$(median 5)" -v rk="$(median 6)" -v limit="$limit" 'BEGIN {
    printf "median %10.2f s %8d KiB %10.2f s %8d KiB\n", as, ak, bs, bk
    printf "median ratio: wall %.2fx, peak memory %.2fx (limit %.2fx): %s\n", rs, rk, limit,
        rs <= limit && rk <= limit ? "within" : "OVER"
    exit !(rs <= limit && rk <= limit) }'
