#!/usr/bin/env bash
# bench/apply_vs_release.sh [MEGABYTES]: endpointfix-offline --apply of this tree beside release
# 1.2.0's (commit bc22583, or the commit BASE names, checked out from this repository's history
# into a temporary worktree and built there with its own native preset), on a SOFTWARE hive that
# bench/big_hive makes of some MEGABYTES (40 by default: 35,610,624 bytes, 150 changes to make).
# The two run in pairs, the base then this tree, each run on a fresh copy of the hive, measured
# by /usr/bin/time -v: its wall clock (to 10 ms), its peak resident memory and its processor
# time. One pair warms the page cache and is not counted; PAIRS (5) are. Prints every counted
# run, the medians, and the median of the pairs' ratios; exits 1 where the wall clock's or the
# memory's is over LIMIT (1.25), 2 where a build or a run fails. Processor time is printed, not
# held to a limit: it varies less than the wall clock on a loaded machine, and says where the
# difference comes from.
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

# timed PROGRAM: its --apply on a fresh copy of the hive, as "WALL KIBIBYTES PROCESSOR": wall
# clock and processor time (user and system) in seconds, peak resident memory in KiB.
timed() {
    cp "$tmp/SOFTWARE" "$tmp/copy" || fail "cannot copy the hive"
    /usr/bin/time -v -o "$tmp/time" "$1" --apply "$tmp/copy" >/dev/null 2>"$tmp/err" ||
        fail "$1 --apply exited $?: $(head -n 1 "$tmp/err")"
    awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, t, ":"); for (i = 1; i <= n; ++i) s = s * 60 + t[i] }
        /Maximum resident set size/ { k = $2 } /(User|System) time \(seconds\)/ { c += $2 }
        END { if (k != "") print s, k, c }' "$tmp/time"
}
timed "$old" >/dev/null && timed "$new" >/dev/null  # the warm-up pair
echo "--apply on a hive of $(stat -c %s "$tmp/SOFTWARE") bytes: $base beside this tree"
printf '%-6s %10s %12s %9s   %10s %12s %9s\n' pair "base wall" "base RSS" "base CPU" wall RSS CPU
for pair in $(seq "$pairs"); do
    a=$(timed "$old") || exit 2
    b=$(timed "$new") || exit 2
    [ -n "$a" ] && [ -n "$b" ] || fail "a run of pair $pair was not measured"
    echo "$a $b" >>"$tmp/pairs"
    awk '{ printf "%-6s %8.2f s %8d KiB %7.2f s   %8.2f s %8d KiB %7.2f s\n", p, $1, $2, $3, $4, $5, $6 }' \
        p="$pair" <<<"$a $b"
done
echo "load average before and after: $load_before / $(cut -d' ' -f1-3 /proc/loadavg)"
# The median of column N of the pairs' figures (1-3 the base's, 4-6 this tree's; 7-9 the ratios).
median() {
    awk -v c="$1" '{ $7 = $4 / $1; $8 = $5 / $2; $9 = $6 / ($3 > 0 ? $3 : 0.01); print $c }' "$tmp/pairs" |
        sort -g | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
awk -v a="$(median 1) $(median 2) $(median 3) $(median 4) $(median 5) $(median 6)" \
    -v rs="$(median 7)" -v rk="$(median 8)" -v rc="$(median 9)" -v limit="$limit" 'BEGIN {
    split(a, m, " ")
    printf "median %8.2f s %8d KiB %7.2f s   %8.2f s %8d KiB %7.2f s\n", m[1], m[2], m[3], m[4], m[5], m[6]
    printf "median ratio: wall %.2fx, peak memory %.2fx (limit %.2fx): %s; processor time %.2fx\n",
        rs, rk, limit, rs <= limit && rk <= limit ? "within" : "OVER", rc
    exit !(rs <= limit && rk <= limit) }'
