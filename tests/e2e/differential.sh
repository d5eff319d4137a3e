#!/usr/bin/env bash
# differential.sh EXE TOOL ARCH LOADER: the program on Wine's registry against the run sequence
# on the in-memory store. For a few large random stores, both must make exactly the same changes.
set -euo pipefail
exe=$1 tool=$2 arch=$3 loader=$4
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/lib/wine-store.sh"
wine_require "$loader" "its eighteen program runs take some 15 minutes there"
wine_prefix_up "$arch" "$loader"
trap wine_prefix_down EXIT

w() { "$WINE" "$@" </dev/null 2>/dev/null | tr -d '\r' | LC_ALL=C sort; }
audio='^\[SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\MMDevices\\Audio'
fail=0 compared=0 changes=0
for seed in 101 202 303; do
    w "$tool" seed "$seed" 300 >/dev/null
    before=$(w "$tool" dump)
    "$WINE" "$exe" </dev/null >/dev/null 2>&1
    on_wine=$(store_changes "$before" "$(w "$tool" dump)")
    in_memory=$(store_changes "$(w "$tool" memory "$seed" 300 before | grep "$audio")" \
                              "$(w "$tool" memory "$seed" 300 after | grep "$audio")")
    if [ "$on_wine" != "$in_memory" ]; then
        echo "FAIL store $seed: Wine and the in-memory store differ"
        diff <(echo "$in_memory") <(echo "$on_wine") | head -20
        fail=1
    fi
    compared=$((compared + 1)) changes=$((changes + $(grep -c . <<<"$on_wine")))
done
echo "compared $compared stores of up to 300 endpoints a root, $changes changed lines"
exit "$fail"
