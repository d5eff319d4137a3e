#!/usr/bin/env bash
# wim.sh PROGRAM MAKER BIG DIRTY: endpointfix-offline --image on Windows installation images made here
# with wimlib's own tool from NTFS volumes (mkntfs, ntfs-3g): three editions with an integrity
# table, whose hive has a descriptor of SYSTEM and Administrators alone, attributes hidden and
# system and a 2020 creation time; its ESD; a pipable WIM; a split WIM, one cut short, one with an edition
# without Windows; a dirty hive (DIRTY, make_dirty_hive) and its logs; and kill -9 at several
# points of an --apply on a WIM of 40 MB hives (BIG, big_hive). Everything wimlib's tool shows of the WIM but the hive's data must stay as it was.
set -uo pipefail
program=$1 maker=$2 big=$3 dirty=$4
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../scripts/lib/hive.sh"
command -v wimlib-imagex >/dev/null || { echo "skipped: wimlib-imagex (wimtools) is not installed"; exit 77; }
[ -x "$(dirname "$program")/endpointfix-offline-wim" ] ||
    { echo "skipped: endpointfix-offline-wim is not built (no wimlib or libntfs-3g)"; exit 77; }
tmp=$(mktemp -d)
trap 'fusermount -u -q "$tmp/m" 2>/dev/null; rm -rf "$tmp"' EXIT
export TMPDIR=$tmp/private && mkdir "$TMPDIR"
export LSAN_OPTIONS=suppressions=$here/wim.lsan${LSAN_OPTIONS:+:$LSAN_OPTIONS}
fail=0
expect() { [ "$2" = "$3" ] || { printf 'FAIL %s\n--- got\n%s\n--- want\n%s\n' "$1" "$2" "$3"; fail=1; }; }
run() { status=0; timeout 300 "$program" "$@" >"$tmp/out" 2>"$tmp/err" || status=$?; }
state() { echo "$(sha256sum <"$1" | cut -c1-16) $(stat -c '%y %u:%g %a' "$1")"; }
export_of() { hivexregedit --export --prefix 'HKEY_LOCAL_MACHINE\SOFTWARE' "$1" '\' | sort; }
# What wimlib's tool shows of every edition, but where blobs lie and the hive's data and times.
shown() {
    local i
    for i in $(seq "$2"); do
        wimlib-imagex dir "$1" "$i" --detailed | awk '/^Full Path/ { hive = /config\/SOFTWARE"$/ }
            /^Offset in WIM/ || hive && /^(Hash|Uncompressed|Compressed|Reference|Last)/ { next } { print }'
    done
    wimlib-imagex info "$1" | grep -vE '^(Size|Total Bytes|Last Modification Time):'
}
# Owner SYSTEM, group SYSTEM, a DACL granting full control to SYSTEM and Administrators alone.
sd=0x010004801400000020000000000000002c000000010100000000000512000000010100000000000512000000
sd+=020034000200000000001400ff011f0001010000000000051200000000001800ff011f0001020000000000052000000020020000
# volume IMG HIVE FILES...: an NTFS volume holding HIVE as Windows/System32/config/SOFTWARE, with
# the descriptor above, attributes hidden and system, created 2020-06-15 12:00 UTC; and FILES.
volume() {
    local img=$1 hive=$2 f=$tmp/m/Windows/System32/config/SOFTWARE
    shift 2
    mkdir -p "$tmp/m" && truncate -s 160M "$img" && mkntfs -F -Q -q "$img" 2>/dev/null &&
        ntfs-3g "$PWD/$img" "$tmp/m" || return 1
    if [ "$hive" != none ]; then
        mkdir -p "$tmp/m/Windows/System32/config" && cp "$hive" "$f" &&
            { [ -e "$hive.LOG1" ] && cp "$hive.LOG1" "$hive.LOG2" "${f%/*}/" || echo log >"$f.LOG1"; } &&
            setfattr -n system.ntfs_acl -v "$sd" "$f" && setfattr -n system.ntfs_attrib -v 0x06000000 "$f" &&
            setfattr -n system.ntfs_crtime -v 0x0060cc7e0c43d601 "$f" || return 1
    fi
    mkdir -p "$tmp/m/Users" && for file in "$@"; do cp "$file" "$tmp/m/Users/"; done
    fusermount -u "$tmp/m" || return 1
    # ntfs-3g may still be writing its last changes when the unmount returns: wait until it ends.
    for _ in $(seq 100); do pgrep -f -- "ntfs-3g $PWD/$img " >/dev/null || return 0; sleep 0.1; done
    return 1
}
cd "$tmp" || exit 1
hive_from_reg "$maker" "$here/e2e/store.reg" SOFTWARE >/dev/null && cp SOFTWARE want &&
    "$program" --apply want >/dev/null && head -c 2M /dev/urandom >noise && echo note >note.txt &&
    volume 1.img SOFTWARE noise && volume 2.img SOFTWARE note.txt && volume 3.img want &&
    volume 4.img none note.txt || { echo "skipped: cannot make an NTFS volume here (mkntfs, ntfs-3g)"; exit 77; }
wimlib-imagex capture 1.img t.wim Pro "Pro edition" --flags=Professional --check >/dev/null &&
    wimlib-imagex append 2.img t.wim Enterprise --check >/dev/null &&
    wimlib-imagex append 3.img t.wim Education --check --boot >/dev/null &&
    wimlib-imagex export t.wim all t.esd --solid >/dev/null && cp t.wim bare.wim &&
    wimlib-imagex capture 1.img p.wim Pro --pipable >/dev/null 2>&1 &&
    wimlib-imagex append 4.img bare.wim Bare >/dev/null && wimlib-imagex split t.wim t.swm 1 >/dev/null &&
    head -c "$(($(stat -c %s t.wim) / 2))" t.wim >short.wim && cp t.wim install.img || exit 1
chown 1234:5678 t.wim && chmod 640 t.wim
before=$(shown t.wim 3) size=$(stat -c %s t.wim)

run --apply --image t.wim
expect "apply: status and edition lines" "$status $(grep -c '^t.wim: edition [123] of 3, ' out)" "0 3"
expect "apply: owner and mode" "$(stat -c '%u:%g %a' t.wim)" "1234:5678 640"
expect "apply: all else as before" "$(shown t.wim 3)" "$before"
expect "apply: no more than 1.25x plus 1 MiB" "$(($(stat -c %s t.wim) <= size * 5 / 4 + 1048576))" 1
expect "apply: verified" "$(wimlib-imagex verify t.wim >/dev/null 2>&1; echo $?)" 0
for i in 1 2 3; do
    wimlib-imagex extract t.wim "$i" /Windows/System32/config/SOFTWARE \
        --dest-dir=x$i --no-acls >/dev/null 2>&1
    run x$i/SOFTWARE
    expect "edition $i: nothing pending, the hive file's --apply" "$status $(export_of x$i/SOFTWARE)" "0 $(export_of want)"
done
after=$(state t.wim) && sleep 1.1
run --apply --image t.wim
expect "second apply: untouched" "$status $(state t.wim)" "0 $after"

# FILE | WHAT wimlib's tool says of its kind (and its data blobs not in solid resources)
# after an --apply --backup
kinds=(
    "t.esd|Version: 3584 Compression: LZMS Attributes: Relative path junction; not solid: 0"
    "p.wim|Version: 68864 Compression: LZX Attributes: Pipable, Relative path junction; not solid: 3"
)
for c in "${kinds[@]}"; do
    IFS='|' read -r file kind <<<"$c"
    old=$(sha256sum <"$file")
    run --apply --backup --image "$file"
    expect "$file: applied, of its kind, verified, the old one kept" \
        "$status $(wimlib-imagex info "$file" | grep -E '^(Version|Compression|Attributes):' | xargs); not solid: $(
            wimlib-imagex info "$file" --blobs | grep '^Flags' | grep -v METADATA | grep -vc SOLID) $(
            wimlib-imagex verify "$file" >/dev/null 2>&1; echo $?) $(sha256sum <"$file.bak")" "0 $kind 0 $old"
done

# CASE | ARGUMENTS | FILE | STATUS | WHAT STDERR HOLDS, one line
cases=(
    "split WIM|--apply --image t.swm|t.swm|2|is a part of a split WIM (3 parts): join them first, with wimlib-imagex join"
    "cut short|--apply --image short.wim|short.wim|2|cannot be read as a WIM: "
    "edition without Windows|--image bare.wim|bare.wim|2|bare.wim:4 (Bare): holds no Windows"
    "no such edition|--apply --image bare.wim --edition 5|bare.wim|3|has no edition 5 (it has 4)"
    "--reg of several editions|--reg --image bare.wim|bare.wim|3|--reg takes one edition"
    "any name|--reg --image install.img --edition 3|install.img|0|"
)
for c in "${cases[@]}"; do
    IFS='|' read -r name args file want said <<<"$c"
    was=$(state "$file")
    # shellcheck disable=SC2086 # the arguments as written
    run $args
    expect "$name: status, one line, nothing written" "$status $(wc -l <err) $(grep -cF -- "$said" err) $(state "$file")" \
        "$want $([ -n "$said" ] && echo 1 1 || echo 0 0) $was"
done
run --json --image bare.wim --edition 2 --edition 1
expect "--json: a document an edition, named" "$status $(jq -r .source out | xargs -d '\n')" \
    "1 bare.wim:2 (Enterprise):/Windows/System32/config/SOFTWARE bare.wim:1 (Pro):/Windows/System32/config/SOFTWARE"
run --image t.wim --image SOFTWARE
expect "a WIM and a hive file" "$status $(head -n 1 err)" "3 endpointfix-offline: WIMs and disk images go in runs of their own"
run --image bare.wim
expect "edition without Windows: the others reported" "$status $(grep -cE ' [1-9][0-9]* changes pending' out)" "2 2"

# A dirty hive: its logs copied out with it and replayed, as beside a hive file.
printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\MMDevices\\Audio\\Capture\\%s]\n"DeviceState"=dword:00000001\n' \
    '{0.0.1.00000000}.{11111111-0000-0000-0000-000000000001}' >later.reg && cp SOFTWARE later &&
    hivexregedit --merge --prefix 'HKEY_LOCAL_MACHINE\SOFTWARE' later later.reg && mkdir d &&
    "$dirty" split d/SOFTWARE SOFTWARE later && volume d.img d/SOFTWARE &&
    wimlib-imagex capture d.img d.wim Dirty >/dev/null && cp -r d e || exit 1
run --reg d/SOFTWARE && want_reg=$(cat out) want_status=$status
run --reg --image d.wim
expect "dirty: --reg as on the hive file" "$status $(cat out)" "$want_status $want_reg"
run --apply e/SOFTWARE && run --apply --image d.wim &&
    wimlib-imagex extract d.wim 1 /Windows/System32/config/SOFTWARE --dest-dir=xd --no-acls >/dev/null 2>&1
expect "dirty: --apply as on the hive file" "$status $(export_of xd/SOFTWARE)" "0 $(export_of e/SOFTWARE)"

# kill -9 at several points of an --apply on two editions of 40 MB hives: the old WIM or the
# new one, and nothing left that the next run does not remove.
"$big" B1 40 && cp B1 B2 && echo two >>B2 && volume b1.img B1 && volume b2.img B2 &&
    wimlib-imagex capture b1.img big.wim one >/dev/null && wimlib-imagex append b2.img big.wim two >/dev/null || exit 1
old=$(sha256sum <big.wim) && cp big.wim k.wim && start=$(date +%s%N)
run --apply --image k.wim
took=$(($(date +%s%N) - start)) && expect "big: applied" "$status" 0
# At a tenth, three tenths... of what a whole run takes: reading, serving, writing, replacing.
early=0
for tenths in 1 3 5 7 9; do
    delay=$(awk -v t="$took" -v n="$tenths" 'BEGIN { printf "%.2f", t * n / 1e10 }')
    cp big.wim k.wim || exit 1
    "$program" --apply --image k.wim >/dev/null 2>&1 &
    sleep "$delay" && kill -9 $! 2>/dev/null; wait $! 2>/dev/null
    now=$(sha256sum <k.wim) && [ "$now" = "$old" ] && early=$((early + 1))
    [ "$now" = "$old" ] || wimlib-imagex verify k.wim >/dev/null 2>&1 || expect "killed at $delay s: a whole WIM" broken whole
    run --apply --image k.wim
    expect "killed at $delay s: the next run" "$status $(find . -maxdepth 2 -name '*endpointfix*' | wc -l)" "0 0"
    rm -f k.wim
done
expect "a kill that stopped a run" "$((early > 0))" 1
exit "$fail"
