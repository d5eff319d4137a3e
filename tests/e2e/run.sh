#!/usr/bin/env bash
# run.sh EXE ARCH LOADER: end to end on Wine's registry. Seeds a fresh prefix of architecture
# ARCH (win32 or win64) with the endpoint store in store.reg, runs the program twice through
# LOADER and checks the whole store after each run against changes.txt. In a 64-bit prefix the
# store lives in the 64-bit view, and the 32-bit view must gain nothing.
set -euo pipefail
exe=$1 arch=$2 loader=$3
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/lib/wine-store.sh"
[ "$arch" = win64 ] || wine_require "$loader" "a 32-bit prefix takes over 7 minutes to boot there"
wine_prefix_up "$arch" "$loader"
trap wine_prefix_down EXIT

fail=0
expect() {  # expect WHAT GOT WANT
    if [ "$2" != "$3" ]; then
        printf 'FAIL %s (%s)\n--- got\n%s\n--- want\n%s\n' "$1" "$arch" "$2" "$3"
        fail=1
    fi
}

store_reg import "$here/store.reg" >/dev/null 2>&1
before=$(store_lines)
[ -n "$before" ] || { echo "FAIL: the store was not seeded"; exit 1; }
[ "$arch" = win64 ] && before32=$(store_lines 32)

status=0
WINEDEBUG=err+actctx,fixme+actctx "$WINE" "$exe" '/all --verbose' "C:\\some path" </dev/null \
    >/dev/null 2>"$WINE_TMP/stderr" || status=$?
expect "exit status of the first run" "$status" 0
expect "loader complaints about the manifest" "$(grep -i manifest "$WINE_TMP/stderr")" ""
after=$(store_lines)
expect "changes made by the first run" "$(store_changes "$before" "$after")" "$(cat "$here/changes.txt")"

status=0
"$WINE" "$exe" </dev/null >/dev/null 2>&1 || status=$?
expect "exit status of the second run" "$status" 0
expect "changes made by the second run" "$(store_changes "$after" "$(store_lines)")" ""

if [ "$arch" = win64 ]; then
    expect "changes to the 32-bit view" "$(store_changes "$before32" "$(store_lines 32)")" ""
fi
[ "$fail" -eq 0 ] && echo "end-to-end run passed in a $arch prefix"
exit "$fail"
