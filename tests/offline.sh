#!/usr/bin/env bash
# offline.sh PROGRAM MAKER DIRTY [full]: endpointfix-offline on SOFTWARE hives made from
# e2e/store.reg (by MAKER, make_empty_hive, and hivexregedit): its report, its .reg file merged,
# --apply checked by two independent readers, a second --apply that rewrites nothing, dirty hives
# (made by DIRTY, make_dirty_hive) read with their logs replayed, --recover, every refusal
# leaving the hive as it was, and damaged copies of the hive and of its logs (run under the
# sanitizers by the asan preset). With "full", the replace on a full and a read-only filesystem (a tmpfs, where
# this user may mount one; skipped otherwise), and --apply with a full and a read-only /tmp.
set -uo pipefail
program=$(realpath "$1") maker=$2 dirty=$3
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../scripts/lib/hive.sh"
. "$here/../scripts/lib/wine-store.sh"
tmp=$(mktemp -d) && chmod 755 "$tmp"
trap 'umount -q "$tmp/fs" 2>/dev/null; rm -rf "$tmp"' EXIT
fail=0
expect() { [ "$2" = "$3" ] || { printf 'FAIL %s\n--- got\n%s\n--- want\n%s\n' "$1" "$2" "$3"; fail=1; }; }
run() { status=0; "$program" "$@" >"$tmp/out" 2>"$tmp/err" || status=$?; }
lines() { hivexregedit --export --prefix 'HKEY_LOCAL_MACHINE\SOFTWARE' "$1" '\Microsoft\Windows\CurrentVersion\MMDevices\Audio' |
    sed 's/=hex(3):/=hex:/' | reg_lines "$AUDIO_KEY" | grep -v -F -e '{long}' -e '{accent}'; }
state() { [ -f "$1" ] && sha256sum <"$1" | cut -c1-16; ls -A "$(dirname "$1")" | paste -sd' '; }
# What reglookup reads, sorted; the keys' last-write times, which a change moves, left out.
lookup() { reglookup -H "$1" 2>/dev/null | sed 's/^\(.*,KEY,,\).*/\1/' | LC_ALL=C sort; }

# A 200-character description (402 bytes as UTF-16) still reads back in 256 bytes, and matches;
# so does one with a letter beyond ASCII, stored as UTF-16 and compared as Windows-1252.
endpoint() {  # endpoint NAME DESCRIPTION
    local key='HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\MMDevices\Audio\Capture\'$1
    printf '\n[%s]\n"DeviceState"=dword:00000000\n[%s\\P]\n"{a45c254e-df1c-4efd-8020-67d146a850e0},2"="%s"\n' "$key" "$key" "$2"
}
{ cat "$here/e2e/store.reg"; endpoint '{long}' "WaveOut Mix$(printf '%0189d' 0)"; endpoint '{accent}' 'WaveOut Mix é'; } >"$tmp/store.reg"
mkdir "$tmp/h" && hive_from_reg "$maker" "$tmp/store.reg" "$tmp/h/SOFTWARE" || exit 1
hive=$tmp/h/SOFTWARE
cp "$hive" "$tmp/clean"

if [ "${4:-}" = full ]; then
    mkdir "$tmp/fs"
    mount -t tmpfs -o size=64k tmpfs "$tmp/fs" 2>/dev/null || { echo "skipped: cannot mount a tmpfs here"; exit 77; }
    cp "$hive" "$tmp/fs/SOFTWARE" && head -c 40000 /dev/zero >"$tmp/fs/filler" 2>/dev/null
    before=$(state "$tmp/fs/SOFTWARE")
    run --apply "$tmp/fs/SOFTWARE"
    cat "$tmp/err"
    expect "apply on a full filesystem" "$status $(state "$tmp/fs/SOFTWARE")" "2 $before"
    mount -o remount,ro "$tmp/fs"
    run --apply "$tmp/fs/SOFTWARE"
    expect "apply on a read-only filesystem" "$status $(state "$tmp/fs/SOFTWARE")" "2 $before"
    # A read-only or full /tmp (a tmpfs over it, in a private mount namespace; the hive reached
    # from the working folder beneath) does not stop --apply, nor change its report.
    mount -o remount,rw "$tmp/fs" && rm "$tmp/fs/filler" && cp "$hive" "$tmp/fs/want" && "$program" --apply "$tmp/fs/want" >"$tmp/want.out"
    expect "reference --apply" "$?" 0
    for case in "read-only ro" "full size=4k"; do
        unshare -m true 2>/dev/null || { echo "skipped /tmp ${case% *}: unshare -m cannot make a private mount namespace here"; continue; }
        cp "$hive" "$tmp/fs/SOFTWARE" && status=0
        # The program is opened before /tmp is covered, which may hold it (a build under /tmp).
        (cd "$tmp/fs" && timeout 60 unshare -m sh -c "exec 3<\"\$0\"; mount -t tmpfs -o ${case#* } tmpfs /tmp || exit 77
            { head -c 8192 /dev/zero >/tmp/filler; } 2>/dev/null; exec /proc/self/fd/3 --apply SOFTWARE" "$program") >"$tmp/out" 2>"$tmp/err" || status=$?
        [ "$status" = 77 ] && { echo "skipped /tmp ${case% *}: cannot mount a tmpfs on /tmp in a private mount namespace"; continue; }
        expect "apply, /tmp ${case% *}: status, hive, report, stderr" \
            "$status $([ "$(lookup "$tmp/fs/SOFTWARE")" = "$(lookup "$tmp/fs/want")" ] && echo fixed) $(cmp -s "$tmp/out" "$tmp/want.out" && echo same) $(cat "$tmp/err")" "0 fixed same "
    done
    [ "$fail" -eq 0 ] && echo "offline on a full and a read-only filesystem passed"
    exit "$fail"
fi

run "$hive"
expect "report status" "$status" 1
expect "the long description's line" "$(grep -c '^capture {long}, description "WaveOut Mix0000' "$tmp/out")" 1
expect "a description beyond ASCII" "$(grep '^capture {accent}' "$tmp/out")" 'capture {accent}, description "WaveOut Mix é"'
cp "$tmp/out" "$tmp/report"
run --json "$hive"
expect "--json: status, program, source, non-ASCII bytes" "$status $(jq -r '"\(.status) \(.program) \(.source)"' "$tmp/out") $(LC_ALL=C grep -c '[^ -~]' "$tmp/out")" \
    "1 1 endpointfix-offline $hive 0"
expect "--json: the description beyond ASCII" "$(jq -r '.endpoints[] | select(.key == "{accent}") | .description.text' "$tmp/out")" "WaveOut Mix é"
expect "--json: each endpoint's states are the report's" "$(json_states <"$tmp/out")" "$(report_states pending <"$tmp/report")"
run --json --reg "$hive"
expect "--json with --reg" "$status $(wc -c <"$tmp/out")" "3 0"
cp "$tmp/clean" "$tmp/applied" && run --apply --json "$tmp/applied"
expect "--apply --json: status, states" "$status $(json_states <"$tmp/out")" "0 $(report_states made <"$tmp/report")"
run --json "$tmp/applied"
expect "--json after --apply" "$status $(jq -r '[.endpoints[].values[].state] | unique | join(" ")' "$tmp/out")" "0 ok"
# Last-write times, every key's at 2020-01-01 first: --apply moves those of the keys it set values
# in to the time of the change, and no other key's, as reglookup reads them; the base block and
# its copy in the first bin's header are stamped with that time too.
cp "$tmp/clean" "$tmp/timed" && perl -e 'open F, "+<", $ARGV[0]; local $/; my $d = <F>;
    for (my $b = 4096; $b < length $d; $b += unpack "V", substr($d, $b + 8, 4)) {
        for (my $c = $b + 32; $c < $b + unpack("V", substr($d, $b + 8, 4)); $c += abs unpack "l<", substr($d, $c, 4)) {
            substr($d, $c + 8, 8) = pack "Q<", 132223104000000000 if substr($d, $c + 4, 2) eq "nk" } }
    seek F, 0, 0; print F $d' "$tmp/timed"
key_times() { reglookup -i -t KEY "$1" 2>/dev/null | awk -F, -v from="$from" -v to="$to" \
    'NR > 1 && $4 != "2020-01-01 00:00:00" { print $1, ($4 >= from && $4 <= to ? "now" : $4) }' | LC_ALL=C sort; }
stamp_at() { date -u -d "@$(($(od -An -tu8 -j"$2" -N8 "$1") / 10000000 - 11644473600))" '+%F %T' |
    awk -v from="$from" -v to="$to" '{ print ($0 >= from && $0 <= to ? "now" : $0) }'; }
from=2020-01-01 to=2020-01-01 && expect "last-write times before --apply" "$(key_times "$tmp/timed")" ""
from=$(date -u '+%F %T') && run --apply "$tmp/timed" && to=$(date -u '+%F %T')
expect "last-write times after --apply: status, keys moved" "$status
$(key_times "$tmp/timed")" "0
$( (sed -E 's/^. \[([^]]*)\].*/\1/' "$here/e2e/changes.txt"; printf '%s\n' 'Capture\{long}' 'Capture\{accent}') |
    tr '\\' / | sed 's|^\(.*\)$|/Microsoft/Windows/CurrentVersion/MMDevices/Audio/\1 now|' | LC_ALL=C sort -u)"
expect "base block and first bin stamped" "$(stamp_at "$tmp/timed" 12) $(stamp_at "$tmp/timed" 4116)" "now now"
run --reg "$hive" && cp "$tmp/out" "$tmp/plan.reg"
before=$(lines "$hive") lookup_before=$(lookup "$hive")
stamp=$(stat -c %y "$hive")
run --apply --backup "$hive"
expect "apply status" "$status" 0
expect "changes made by --apply" "$(store_changes "$before" "$(lines "$hive")")" "$(cat "$here/e2e/changes.txt")"
expect "values reglookup sees changed" "$(diff <(echo "$lookup_before") <(lookup "$hive") |
    sed -n 's|^[<>] /Microsoft/Windows/CurrentVersion/MMDevices/Audio/||p' | cut -d, -f1 | LC_ALL=C sort -u)" \
    "$( (sed -E 's/^. \[([^]]*)\] "([^"]*)".*/\1\\\2/' "$here/e2e/changes.txt"; printf '%s\n' 'Capture\{long}\DeviceState' 'Capture\{accent}\DeviceState') | tr '\\' / | sed 's/,/%2C/' | LC_ALL=C sort -u)"
expect "the backup" "$(cmp "$tmp/clean" "$hive.bak" && echo same)" same
expect "base block: sequence numbers, one higher" "$(od -An -tu4 -j4 -N8 "$hive" | xargs)" \
    "$(od -An -tu4 -j4 -N8 "$tmp/clean" | awk '{ print $1 + 1, $2 + 1 }')"
regfinfo "$hive" >/dev/null 2>&1; expect "regfinfo reads the result" "$?" 0
cp "$tmp/clean" "$tmp/merged" && hivexregedit --merge --prefix 'HKEY_LOCAL_MACHINE\SOFTWARE' "$tmp/merged" "$tmp/plan.reg"
expect "--reg merged is --apply" "$(lines "$tmp/merged")" "$(lines "$hive")"
# --backup with HIVE.bak there: nothing to change is no refusal (nothing is written); changes are.
cp -p "$hive" "$tmp/fixed" && run --apply --backup "$hive"
expect "--backup, HIVE.bak there, nothing to change" "$status $(cmp "$hive" "$tmp/fixed" && echo same) $(cmp "$tmp/clean" "$hive.bak" && echo kept)" "0 same kept"
mkdir "$tmp/b" && cp "$tmp/clean" "$tmp/b/SOFTWARE" && echo earlier >"$tmp/b/SOFTWARE.bak" && run --apply --backup "$tmp/b/SOFTWARE"
expect "--backup, HIVE.bak there, changes" "$status $(cmp "$tmp/b/SOFTWARE" "$tmp/clean" && echo same) $(cat "$tmp/b/SOFTWARE.bak")" "2 same earlier"
rm "$hive.bak" && stamp=$(stat -c %y "$hive")
run --apply "$hive"
expect "a second apply: status, bytes, time" "$status $(cmp "$hive" "$tmp/fixed" && echo same) $(stat -c %y "$hive")" "0 same $stamp"

# Through a link: the file it names is serviced in its own folder, and the link stays.
mkdir "$tmp/t" "$tmp/l" && cp "$tmp/clean" "$tmp/t/SOFTWARE" && ln -s ../t/SOFTWARE "$tmp/l/link"
run --apply --backup "$tmp/l/link"
expect "apply through a link: status, target, link, backups" \
    "$status $(lines "$tmp/t/SOFTWARE" | cmp -s - <(lines "$hive") && echo fixed) $(readlink "$tmp/l/link") $(cmp "$tmp/clean" "$tmp/t/SOFTWARE.bak" && echo kept) $(ls "$tmp/l")" \
    "0 fixed ../t/SOFTWARE kept link"
# Output lost after the hive was replaced: status 4, and it says the changes were made.
cp "$tmp/clean" "$tmp/t/full" && status=0 && "$program" --apply "$tmp/t/full" >/dev/full 2>"$tmp/err" || status=$?
expect "apply with its report lost" "$status $(cmp -s "$tmp/clean" "$tmp/t/full" || echo changed) $(cat "$tmp/err")" \
    "4 changed endpointfix-offline: the changes were made; the report could not be written in full"
# Changes made where part of the store cannot be read (a key whose name Windows-1252 cannot spell,
# not found by the name it is listed by): status 2, as a refusal's, told apart on stderr and by
# the JSON document's "written", which the report alone does not have.
{ cat "$tmp/store.reg"; printf '\n[%s\\Capture\\{snow ☃}]\n"DeviceState"=dword:00000000\n' "$AUDIO_KEY"; } >"$tmp/part.reg"
hive_from_reg "$maker" "$tmp/part.reg" "$tmp/t/part" || exit 1
run --json "$tmp/t/part"
expect "report, part unreadable: status, written" "$status $(jq 'has("written")' "$tmp/out")" "2 false"
for round in first second; do
    before=$(state "$tmp/t/part") && run --apply --json "$tmp/t/part"
    got="$status $(jq -r '"\(.written) \(.unreadable | length) \(.status)"' "$tmp/out") $(cat "$tmp/err")"
    want="2 true 1 2 endpointfix-offline: $tmp/t/part: the changes were made; part of the store cannot be read"
    [ "$round" = second ] && want="2 false 1 2 " && expect "apply, part unreadable, again: hive" "$(state "$tmp/t/part")" "$before"
    expect "apply, part unreadable, $round: status, written, unreadable, stderr" "$got" "$want"
done
# A damaged value: the "vk" signature of the one 12-byte format value (that of the headphones with
# a format of their own) flipped. libhivex then reads none of that key's values from it on, nor
# writes any: they are unreadable, not pending (one change fewer: its missing value), and
# --apply refuses, writing nothing.
cp "$tmp/clean" "$tmp/t/damaged" && at=$(perl -0777 -ne 'print $-[0] if /vk\x28\0\x0c\0\0\0.{12}\Q{e4870e26-3cc5-4cd2-ba46-ca0a9a70ed04},0\E/s' "$tmp/t/damaged")
[ -n "$at" ] && printf x | dd of="$tmp/t/damaged" bs=1 seek="$at" conv=notrunc status=none || expect "the format value's cell found and damaged" "$at" "an offset"
before=$(state "$tmp/t/damaged") && run "$tmp/t/damaged"
expect "report, a damaged value: status, its lines, summary" "$status
$(grep -e 'cannot be changed' -e 'endpoints matched' "$tmp/out")" "2
    Properties\\{e4870e26-3cc5-4cd2-ba46-ca0a9a70ed04},0: unreadable (damaged): cannot be changed
    Properties\\{e4870e26-3cc5-4cd2-ba46-ca0a9a70ed04},1: unreadable (damaged): cannot be changed
endpointfix-offline: 7 of 11 endpoints matched, 6 changes pending, 0 blocked, 3 unreadable"
cp "$tmp/out" "$tmp/damaged.report" && run --json "$tmp/t/damaged"
expect "--json, a damaged value: status, the values' states" "$status $(jq -r '[.endpoints[].values[] | select(.now.unread == "damaged") | .state] | join(" ")' "$tmp/out")
$(json_states <"$tmp/out")" "2 damaged damaged
$(report_states pending <"$tmp/damaged.report")"
run --apply "$tmp/t/damaged"
expect "apply, a damaged value: status, output, stderr lines, hive" \
    "$status $(wc -c <"$tmp/out") $(wc -l <"$tmp/err") $(grep -c '},0 is damaged, so it cannot be changed; the hive is as it was$' "$tmp/err") $(state "$tmp/t/damaged")" \
    "2 0 1 1 $before"

# Hives that are not SOFTWARE hives are refused; a SOFTWARE hive without the store has nothing to change.
"$maker" "$tmp/empty"
printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\ControlSet001\\Control]\n"Current"=dword:00000001\n' >"$tmp/system.reg"
printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion]\n"ProgramFilesDir"="C:\\\\Program Files"\n' >"$tmp/bare.reg"
hive_from_reg "$maker" "$tmp/system.reg" "$tmp/system" && hive_from_reg "$maker" "$tmp/bare.reg" "$tmp/bare" || exit 1
for kind in empty system bare; do
    for option in "" --reg --apply; do
        run $option "$tmp/$kind"
        got="$status $(cat "$tmp/out" "$tmp/err")" want="2 endpointfix-offline: $tmp/$kind: does not look like a SOFTWARE hive (no Microsoft\Windows\CurrentVersion key)"
        [ "$kind" = bare ] && want="0 endpointfix-offline: no endpoint store here, nothing to change" && [ "$option" = --reg ] && want="0 Windows Registry Editor Version 5.00"
        expect "$kind hive ${option:-report}" "$got" "$want"
    done
done

# Usage: each option once; -- ends the options. A usage error says in one line what was wrong.
for case in "--apply --apply H|--apply given twice" "--reg --reg H|--reg given twice" "H H|HIVE given twice" \
    "--backup H|--backup goes only with --apply" "--reg --apply H|--reg does not go with --apply" \
    "--help H|--help goes alone" "--version H|--version goes alone" "--bogus H|unknown option --bogus" \
    "--|no HIVE given" "--recover|--recover needs OUT" "--recover H|--recover needs OUT, then HIVE: one name given" \
    "--recover O --apply H|--recover does not go with --apply" "--recover O --reg H|--recover does not go with --reg" \
    "--recover O --backup H|--backup goes only with --apply" "--recover O --json H|--json does not go with --recover" \
    "--image|--image needs IMAGE" "--image I H|HIVE does not go with --image" "--root D --image I --image J|--root goes only with one --image" "--reg --image I --image J|--reg goes only with one --image" \
    "--root D H|--root goes only with --image" "--root D|--root goes only with --image" \
    "--image I --root D --root E|--root given twice" "--root D --image I --root E|--root given twice" \
    "--image I --backup|--backup goes only with --apply" "--timeout 0 --image I|--timeout needs SECONDS, a whole number from 1 to 86400" \
    "--timeout 1x --image I|--timeout needs SECONDS, a whole number from 1 to 86400" "--timeout 5 H|--timeout goes only with --image" \
    "--progress H|--progress goes only with --image" \
    "--edition 1 H|--edition goes only with --image" "--image I --edition|--edition needs INDEX" \
    "--image I --edition 0|--edition needs an INDEX from 1, not 0" "--image I --edition 1|--edition goes only with a WIM"; do
    args=${case%|*}
    run ${args//H/$hive}
    expect "usage: $args" "$status $(head -n 1 "$tmp/err")" "3 endpointfix-offline: ${case#*|}"
done
run --version
expect "--version" "$status $(cat "$tmp/out")" "0 endpointfix-offline $(sed -nE 's/^project\(endpointfix VERSION ([0-9.]+).*/\1/p' "$here/../CMakeLists.txt")"
run -h
expect "-h" "$status $(head -n 1 "$tmp/out")" "0 usage: endpointfix-offline [--json] [--apply [--backup]] WHERE"
cp "$tmp/clean" "$tmp/h/-dash" && status=0 && (cd "$tmp/h" && "$program" -- -dash >/dev/null) || status=$?
expect "a hive named after --" "$status" 1

# A name with ESC and a newline is told escaped, in one line.
run "$tmp/h/"$'\e[2J\nforged'
expect "a name with controls: status, lines, escaped" "$status $(wc -l <"$tmp/err") $(grep -c -F '\x1b[2J\x0aforged: cannot open' "$tmp/err")" "2 1 1"

# Dirty hives, made from the clean hive and two later states of it: each mode reads the hive as
# Windows loads it, logs replayed, and says so in one line; the logs are never changed.
looked() { diff <(lookup "$1") <(lookup "$2") | grep '^[<>]'; }
merge() { hivexregedit --merge --prefix 'HKEY_LOCAL_MACHINE\SOFTWARE' "$@"; }
printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Dirty]\n"First"="%s"\n' "$(printf '%03000d' 0)" >"$tmp/first.reg"
printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Dirty\\Later]\n"Second"=dword:00000002\n' >"$tmp/second.reg"
cp "$tmp/clean" "$tmp/mid" && merge "$tmp/mid" "$tmp/first.reg" && cp "$tmp/mid" "$tmp/later" && merge "$tmp/later" "$tmp/second.reg"
run "$tmp/clean" && cp "$tmp/out" "$tmp/clean.report"
rules=$(looked "$tmp/clean" "$tmp/fixed")
d=$tmp/d/SOFTWARE
for kind in split swapped one badhash damaged old olddamaged; do
    rm -rf "$tmp/d" && mkdir "$tmp/d" && "$dirty" "$kind" "$d" "$tmp/clean" "$tmp/mid" "$tmp/later" && cp "$d" "$tmp/primary"
    want=$tmp/later && [ "$kind" = badhash ] && want=$tmp/mid
    logs=$(cat "$d.LOG1" "$d.LOG2" | sha256sum) untouched=$(state "$d")
    run "$d"
    expect "dirty $kind: report" "$status $(cmp -s "$tmp/out" "$tmp/clean.report" && echo same) $(grep -c "^endpointfix-offline: $d: .*replayed .* as Windows does when it loads the hive" "$tmp/err")" "1 same 1"
    run --json "$d"
    expect "dirty $kind: --json" "$status $(json_states <"$tmp/out")" "1 $(report_states pending <"$tmp/clean.report")"
    run --reg "$d" && cp "$tmp/out" "$tmp/plan.reg"
    run --recover "$tmp/recovered" "$d"
    expect "dirty $kind: --recover" "$status $(cmp <(tail -c +4097 "$tmp/recovered") <(tail -c +4097 "$want") && echo same) $(od -An -tu4 -j4 -N8 "$tmp/recovered" | awk '$1 == $2 { print "clean" }') $(state "$d")" "0 same clean $untouched"
    run --apply --backup "$d"
    expect "dirty $kind: --apply" "$status $(cmp "$d.bak" "$tmp/primary" && echo backup) $(cat "$d.LOG1" "$d.LOG2" | sha256sum) $(od -An -tu4 -j4 -N8 "$d" | xargs)" \
        "0 backup $logs $(od -An -tu4 -j4 -N4 "$tmp/recovered" | awk '{ print $1 + 1, $1 + 1 }')"
    expect "dirty $kind: reglookup sees the rules' changes alone" "$(looked "$tmp/recovered" "$d")" "$rules"
    merge "$tmp/recovered" "$tmp/plan.reg" && expect "dirty $kind: --reg merged is --apply" "$(lines "$tmp/recovered")" "$(lines "$d")"
    rm "$tmp/recovered"
done
rm -rf "$tmp/d" && mkdir "$tmp/d" && "$dirty" one "$d" "$tmp/clean" "$tmp/fixed" && untouched=$(state "$d") stamp=$(stat -c %y "$d")
run --apply "$d"
expect "dirty, nothing to change: nothing written" "$status $(state "$d") $(stat -c %y "$d") $(grep -c 'nothing is written' "$tmp/err")" "0 $untouched $stamp 1"
run --recover "$tmp/copy" "$tmp/system"
expect "--recover of a clean hive, any hive" "$status $(cmp "$tmp/copy" "$tmp/system" && echo copy)" "0 copy"
cp "$tmp/copy" "$tmp/kept" && run --recover "$tmp/copy" "$d"
expect "--recover never overwrites" "$status $(cmp "$tmp/copy" "$tmp/kept" && echo kept) $(cat "$tmp/err")" "2 kept endpointfix-offline: $tmp/copy: exists already, and is not overwritten"

# Refusals: status 2, one line naming the file, and the hive and its folder as they were.
refuse() {  # refuse CASE WANT-IN-MESSAGE [OPTION...]
    rm -rf "$hive" "$hive".[Ll][Oo][Gg]* && cp "$tmp/clean" "$hive"
    case $1 in
        missing) rm "$hive" ;; directory) rm "$hive" && mkdir "$hive" ;; empty) : >"$hive" ;;
        not-a-hive) echo 'not a hive' >"$hive" ;; truncated) truncate -s 8192 "$hive" ;;
        checksum) printf 'x' | dd of="$hive" bs=1 seek=48 conv=notrunc 2>/dev/null ;;
        first-bin) printf 'xbin' | dd of="$hive" bs=1 seek=4096 conv=notrunc 2>/dev/null ;;
        dirty) perl -e 'open F, "+<", $ARGV[0]; read F, $b, 508; substr($b, 8, 4) = pack "V", 99; $s = 0;
            $s ^= $_ for unpack "V127", $b; seek F, 0, 0; print F $b, pack "V", $s' "$hive"
            touch "$hive.LOG1" "$hive.log2" ;;
        stale|none|oldstamp) "$dirty" "$1" "$hive" "$tmp/clean" "$tmp/mid" "$tmp/later" ;;
        unmendable) "$dirty" damaged "$hive" "$tmp/clean" "$tmp/mid" "$tmp/later"
            printf 'x' | dd of="$hive.LOG1" bs=1 seek=100 conv=notrunc 2>/dev/null ;;
        locked) exec 9<"$hive" && flock 9 ;;
        linked) ln -f "$hive" "$tmp/another-name" ;;
        unreadable) chmod 000 "$hive"; [ "$(id -u)" = 0 ] && as=(setpriv --reuid=65534 --regid=65534 --clear-groups) ;;
    esac
    local want before; want=$(state "$hive")
    run ${@:3} "$hive"
    [ "$1" = unreadable ] && { status=0; "${as[@]}" "$program" --apply "$hive" >/dev/null 2>"$tmp/err" || status=$?; }
    exec 9<&-
    expect "refused: $1" "$status $(wc -l <"$tmp/err") $(grep -c -F -e "$hive" "$tmp/err") $(grep -c -F -e "$2" "$tmp/err") $(state "$hive")" "2 1 1 1 $want"
}
for option in "" --apply; do
    refuse missing "No such file" "$option"; refuse directory "directory" "$option"
    refuse empty "empty" "$option"; refuse not-a-hive "not a registry hive" "$option"
    refuse truncated "truncated" "$option"; refuse checksum "checksum" "$option"
    refuse first-bin "first bin" "$option"
done
for option in "" --apply "--recover $tmp/h/recovered"; do
    refuse dirty "is dirty, and none of its logs can be used: SOFTWARE.LOG1: empty; SOFTWARE.log2: empty" $option
    refuse none "is dirty, and no transaction log stands beside it" $option
    refuse stale "no entry of its logs continues it" $option
    refuse oldstamp "SOFTWARE.LOG1: its timestamp does not match" $option
    refuse unmendable "damaged base block (no regf signature), and none of its logs can be used" $option
done
refuse locked "another run" --apply
refuse linked "has other names (hard links), which would keep the old hive" --apply
# Interrupted by a signal while the new hive is written (SIGXFSZ, past a file size limit): the
# run ends only once the hive is as it was and nothing is left beside it.
refuse locked "another run" --apply && want=$(state "$hive") status=0
{ (ulimit -f 16; exec "$program" --apply "$hive" >/dev/null 2>&1) || status=$?; } 2>/dev/null
expect "interrupted" "$status $(state "$hive")" "$((128 + 25)) $want"
refuse unreadable "Permission denied"
for option in --json "--apply --json"; do
    refuse stale "no entry of its logs continues it" $option && expect "refused, $option: stdout" "$(wc -c <"$tmp/out")" 0
done

# Damaged copies: any status but a crash or a sanitizer's report; what regfinfo could read before
# an --apply, it can read after it. Beside them, dirty hives whose logs are damaged: bytes changed
# (most in their base blocks and first entries) or cut short.
mkdir "$tmp/fuzz" && perl -e 'srand 7; local $/; my $c = <STDIN>; for my $i (1 .. 150) { my $d = $c;
    substr($d, 4096 + int rand(length($d) - 4096), 1) = chr int rand 256 for 1 .. 1 + int rand 12;
    open F, ">", "$ARGV[0]/$i"; print F $d; close F }' "$tmp/fuzz" <"$tmp/clean"
for i in $(seq 1 40); do
    mkdir "$tmp/fuzz/logs$i" && "$dirty" split "$tmp/fuzz/logs$i/SOFTWARE" "$tmp/clean" "$tmp/mid" "$tmp/later"
    perl -e 'srand shift; for my $f (@ARGV) { local $/; open F, "+<", $f; my $d = <F>; my $n = length $d;
        if (rand() < 0.25) { $d = substr($d, 0, int rand $n) }
        else { substr($d, int rand(rand() < 0.6 ? 1100 : $n), 1) = chr int rand 256 for 1 .. 1 + int rand 6 }
        seek F, 0, 0; truncate F, 0; print F $d; close F }' "$i" "$tmp/fuzz/logs$i/SOFTWARE.LOG1" "$tmp/fuzz/logs$i/SOFTWARE.LOG2"
done
crashes=0
for damaged in "$tmp"/fuzz/*; do
    [ -d "$damaged" ] && damaged=$damaged/SOFTWARE
    regfinfo "$damaged" >/dev/null 2>&1 && readable=1 || readable=0
    for option in "" --apply "--recover $damaged.out"; do
        run $option "$damaged"
        [ "$status" -le 2 ] && ! grep -q -e 'runtime error' -e Sanitizer "$tmp/err" || { crashes=$((crashes + 1)); echo "crash: $option $damaged ($status)"; }
    done
    [ "$readable" = 0 ] || regfinfo "$damaged" >/dev/null 2>&1 || { crashes=$((crashes + 1)); echo "damaged by --apply: $damaged"; }
done
expect "damaged copies that crashed" "$crashes" 0
[ "$fail" -eq 0 ] && echo "offline passed"
exit "$fail"
