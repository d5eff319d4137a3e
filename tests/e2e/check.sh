#!/usr/bin/env bash
# check.sh CHECK FIX LOCK LOADER: the check program on Wine's registry, in a 64-bit prefix seeded
# with store.reg: it exits 1 before a run of FIX and 0 after, and its --json says so, each
# endpoint's states those of the report (blocked ones too); its --reg file, imported into a
# fresh copy of the store, gives what the run gives; an endpoint key that cannot be opened by the
# name it is listed by makes it exit 2 and name the key; with two keys locked by LOCK, it exits 2
# and names both, and FIX still exits 0 and makes every other change.
set -euo pipefail
check=$1 fix=$2 lock=$3 loader=$4
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/lib/wine-store.sh"
wine_prefix_up win64 "$loader"
trap wine_prefix_down EXIT
fail=0
expect() { [ "$2" = "$3" ] || { printf 'FAIL %s\n--- got\n%s\n--- want\n%s\n' "$1" "$2" "$3"; fail=1; }; }
w() { status=0; "$WINE" "$@" </dev/null 2>/dev/null | tr -d '\r' || status=$?; }
fresh() { store_reg delete "$AUDIO_KEY" /f >/dev/null 2>&1 || true; store_reg import "$here/store.reg" >/dev/null 2>&1; }

fresh
before=$(store_lines)
w "$check" --reg >"$WINE_TMP/changes.reg"
expect "status of --reg before a run" "$status" 1
w "$check" >"$WINE_TMP/report"
expect "status before a run" "$status" 1
expect "a render endpoint's line" "$(grep -F '22222222-0000-0000-0000-000000000001}' "$WINE_TMP/report")" \
    'render {0.0.0.00000000}.{22222222-0000-0000-0000-000000000001}, form factor 0x00000003 (headphones), description "Headphones"'
expect "the report's last line" "$(tail -n 1 "$WINE_TMP/report")" \
    "endpointfix-check: 5 of 9 endpoints matched, 5 changes pending, 0 blocked, 0 unreadable"
w "$check" --json >"$WINE_TMP/json"
expect "--json before a run: status, source" "$status $(jq -r '"\(.status) \(.source)"' "$WINE_TMP/json")" "1 1 registry"
expect "--json before a run: each endpoint's states are the report's" "$(json_states <"$WINE_TMP/json")" \
    "$(report_states pending <"$WINE_TMP/report")"
w "$check" --json --reg >"$WINE_TMP/json"
expect "--json with --reg: status, stdout" "$status $(wc -c <"$WINE_TMP/json")" "3 0"
# Usage: each option once; "--" ends the options; a usage error's first line says what was wrong;
# -h, --help and /? are help (the parse is the same in both builds, so the cheaper one's runs tell
# it). Each case: ARGS:STATUS:the first line of stderr (status 3) or stdout, where given.
if [ "$loader" != wine ]; then
    set -f
    version=$(sed -nE 's/^project\(endpointfix VERSION ([0-9.]+).*/\1/p' "$here/../../CMakeLists.txt")
    for case in "--reg --reg:3:--reg given twice" "--json --json:3:--json given twice" "--bogus:3:unknown option --bogus" \
        "--json --reg:3:--json does not go with --reg" "-- --reg:3:nothing may follow --" "--reg -h:3:-h goes alone" \
        "--reg --:1:Windows Registry Editor Version 5.00" "--:1:" "/?:0:usage: endpointfix-check [--reg | --json]" \
        "-h:0:usage: endpointfix-check [--reg | --json]" "--version:0:endpointfix-check $version"; do
        args=${case%%:*} want=${case#*:}
        status=0; "$WINE" "$check" $args </dev/null >"$WINE_TMP/out" 2>"$WINE_TMP/err" || status=$?
        line=$(tr -d '\r' <"$WINE_TMP/$([ "$status" = 3 ] && echo err || echo out)" | head -n 1)
        [ -n "${want#*:}" ] || line=""
        expect "usage: $args" "$status:${line#endpointfix-check: }" "$want"
    done
    set +f
fi
"$WINE" "$fix" </dev/null >/dev/null 2>&1
after=$(store_lines)
w "$check" >/dev/null
expect "status after a run" "$status" 0
w "$check" --json >"$WINE_TMP/json"
expect "--json after a run" "$status $(jq -r '"\(.status) \([.endpoints[].values[].state] | unique)"' "$WINE_TMP/json")" '0 0 ["ok"]'

fresh
store_reg import "Z:${WINE_TMP//\//\\}\\changes.reg" >/dev/null 2>&1
expect "the store after importing --reg" "$(store_changes "$after" "$(store_lines)")" ""

# An endpoint whose key name holds a character the ANSI code page lacks (and has no stand-in for,
# as it has 'O' for an omega) is listed with '?' in its place, and cannot be opened by that name:
# the store is only partly read.
fresh
printf 'Windows Registry Editor Version 5.00\r\n\r\n[%s\\Capture\\{\xe4\xb8\xad}\\Properties]\r\n"%s"="WaveOut Mix"\r\n' \
    "$AUDIO_KEY" '{a45c254e-df1c-4efd-8020-67d146a850e0},2' | iconv -f UTF-8 -t UTF-16 >"$WINE_TMP/unnamed.reg"
store_reg import "Z:${WINE_TMP//\//\\}\\unnamed.reg" >/dev/null 2>&1
w "$check" >"$WINE_TMP/report"
expect "status with a key name outside the code page" "$status" 2
expect "the key named" "$(grep -F '{?}' "$WINE_TMP/report")" \
    "unreadable: ${AUDIO_KEY#*\\}\\Capture\\{?}: not found by the name it is listed by"

# An endpoint key's name of 220 characters makes a path longer than the platform opens in one
# call: the check opens keys level by level, as the program does, so its plan is the run's.
fresh
long="{0.0.1.00000000}.{$(printf 'a%.0s' {1..201})}"
printf 'Windows Registry Editor Version 5.00\r\n\r\n[%s]\r\n"DeviceState"=dword:00000002\r\n[%s\\Properties]\r\n"%s"="WaveOut Mix"\r\n' \
    "$AUDIO_KEY\\Capture\\$long" "$AUDIO_KEY\\Capture\\$long" '{a45c254e-df1c-4efd-8020-67d146a850e0},2' >"$WINE_TMP/long.reg"
store_reg import "Z:${WINE_TMP//\//\\}\\long.reg" >/dev/null 2>&1
w "$check" >"$WINE_TMP/report"
expect "a 220-character name: status, the last line" "$status $(tail -n 1 "$WINE_TMP/report")" \
    "1 endpointfix-check: 6 of 10 endpoints matched, 6 changes pending, 0 blocked, 0 unreadable"
"$WINE" "$fix" </dev/null >/dev/null 2>&1
w "$check" >/dev/null
expect "a 220-character name: status after a run" "$status" 0

fresh
capture='{0.0.1.00000000}.{11111111-0000-0000-0000-000000000001}'
render='{0.0.0.00000000}.{22222222-0000-0000-0000-000000000001}'
"$WINE" "$lock" "${AUDIO_KEY#*\\}\\Capture\\$capture" "${AUDIO_KEY#*\\}\\Render\\$render\\Properties" </dev/null
w "$check" >"$WINE_TMP/report"
expect "status with two keys locked" "$status" 2
w "$check" --json >"$WINE_TMP/json"
expect "--json with two keys locked: each endpoint's states are the report's" "$(json_states <"$WINE_TMP/json")" \
    "$(report_states pending <"$WINE_TMP/report")"
expect "endpoints with blocked changes" "$(awk '/^(capture|render) / { e = $2 } / blocked: / { print e }' "$WINE_TMP/report" | LC_ALL=C sort -u)" \
    "$(printf '%s,\n%s,' "$render" "$capture")"
status=0
"$WINE" "$fix" </dev/null >/dev/null 2>&1 || status=$?
expect "status of the program with two keys locked" "$status" 0
expect "changes made with two keys locked" "$(store_changes "$before" "$(store_lines)")" \
    "$(grep -v -e "$capture" -e "$render" "$here/changes.txt")"
[ "$fail" -eq 0 ] && echo "check passed: $(basename "$check")"
exit "$fail"
