#!/usr/bin/env bash
# offline_inputs.sh PROGRAM MAKER DIRTY [failing]: what endpointfix-offline reads. With standard
# streams closed, in each mode, the hive is written only by the replace; a FIFO as the hive or as
# a log, and a directory or a link to /dev/zero as a log, are refused at once; a hive padded to
# 1 GB is read and written only as far as its bins go. With "failing", as root: hives and logs
# on a FUSE view (failing_fs.py) whose reads fail with EIO or end short, refused with the file
# and the error named, no signal and nothing created (skipped where FUSE cannot mount).
set -uo pipefail
program=$(realpath "$1") maker=$2 dirty=$3
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../scripts/lib/hive.sh"
tmp=$(mktemp -d)
trap 'umount -q "$tmp/mnt" 2>/dev/null; rm -rf "$tmp"' EXIT
fail=0
expect() { [ "$2" = "$3" ] || { printf 'FAIL %s\n--- got\n%s\n--- want\n%s\n' "$1" "$2" "$3"; fail=1; }; }
hive_from_reg "$maker" "$here/e2e/store.reg" "$tmp/clean" || exit 1
printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Later]\n"Value"="%s"\n' "$(printf '%05000d' 0)" >"$tmp/later.reg"
cp "$tmp/clean" "$tmp/later" && hivexregedit --merge --prefix 'HKEY_LOCAL_MACHINE\SOFTWARE' "$tmp/later" "$tmp/later.reg"
cp "$tmp/clean" "$tmp/fixed" && "$program" --apply "$tmp/fixed" >/dev/null 2>&1
h=$tmp/h/SOFTWARE
fresh() {  # fresh KIND: $h as the clean or fixed hive, or dirty: logs replayed, the later or fixed one
    rm -rf "$tmp/h" "$tmp/out" && mkdir "$tmp/h"
    case $1 in
        dirty) "$dirty" split "$h" "$tmp/clean" "$tmp/later" ;; dirty-fixed) "$dirty" one "$h" "$tmp/clean" "$tmp/fixed" ;;
        *) cp "$tmp/$1" "$h" ;;
    esac
    cp "$h" "$tmp/original"
}
after() { "$program" "$h" >/dev/null 2>&1; echo "$?"; }  # 1: changes pending, 0: none, 2: no hive

if [ "${4:-}" = failing ]; then
    [ "$(id -u)" = 0 ] || { echo "skipped: mounting a FUSE view needs root"; exit 77; }
    mkdir -p "$tmp/mnt" "$tmp/src/eio" "$tmp/src/short" "$tmp/src/logeio" "$tmp/src/logshort"
    cp "$tmp/clean" "$tmp/src/eio/SOFTWARE" && cp "$tmp/clean" "$tmp/src/short/SOFTWARE"
    for d in logeio logshort; do "$dirty" split "$tmp/src/$d/SOFTWARE" "$tmp/clean" "$tmp/later"; done
    /usr/bin/python3 "$here/failing_fs.py" "$tmp/src" "$tmp/mnt" eio/SOFTWARE:eio:12288 \
        short/SOFTWARE:short:12288 logeio/SOFTWARE.LOG1:eio:0 logshort/SOFTWARE.LOG1:short:1024 >"$tmp/fuse" 2>&1 &
    for _ in $(seq 100); do mountpoint -q "$tmp/mnt" && break; sleep 0.1; done
    mountpoint -q "$tmp/mnt" || { echo "skipped: cannot mount a FUSE view here: $(tail -n 1 "$tmp/fuse")"; exit 77; }
    # Status 2 (no signal), one line naming the file and the error, nothing created.
    for file in eio/SOFTWARE short/SOFTWARE logeio/SOFTWARE.LOG1 logshort/SOFTWARE.LOG1; do
        for args in "" --reg --json "--recover $tmp/out"; do
            status=0 && timeout 30 "$program" $args "$tmp/mnt/${file%.LOG1}" >/dev/null 2>"$tmp/err" || status=$?
            expect "$file failing: ${args:-report}" "$status $(wc -l <"$tmp/err") $(grep -c -F "${file#*/}" "$tmp/err") $(grep -c 'Input/output error' "$tmp/err") $(ls "$tmp/out" 2>/dev/null)" "2 1 1 1 "
        done
    done
    [ "$fail" -eq 0 ] && echo "offline inputs with failing reads passed"
    exit "$fail"
fi

# Closed standard streams: status, the status of a report after it, and which of the hive, its
# backup and a --recover copy hold the hive as it was before.
while read -r kind closed want args; do
    fresh "$kind" && status=0
    eval '"$program" ${args//OUT/$tmp/out} "$h" >/dev/null' "${closed//,/ }" || status=$?
    got="$status $(after)$(for f in "$h" "$h.bak" "$tmp/out"; do cmp -s "$f" "$tmp/original" && printf ' %s' "${f##*[/.]}"; done)"
    expect "$kind hive, $closed: ${args:-report}" "$got" "${want//_/ }"
done <<'EOF_CASES'
clean >&- 1_1_SOFTWARE
clean >&- 1_1_SOFTWARE --reg
clean >&- 1_1_SOFTWARE --json
fixed >&- 0_0_SOFTWARE --apply
clean >&-,2>&- 0_0 --apply
clean <&-,>&-,2>&- 0_0_bak --apply --backup
clean <&-,>&-,2>&- 0_1_SOFTWARE_out --recover OUT
dirty 2>&- 1_1_SOFTWARE
dirty 2>&- 1_1_SOFTWARE --json
dirty 2>&- 0_0 --apply
dirty-fixed 2>&- 0_0_SOFTWARE --apply
EOF_CASES

# Inputs that are not regular files, refused at once: status 2, one line naming it, and the hive
# as it was, with nothing created.
mkfifo "$tmp/fifo"
for args in "" --reg --json --apply "--recover $tmp/out"; do
    status=0 && timeout 10 "$program" $args "$tmp/fifo" >/dev/null 2>"$tmp/err" || status=$?
    expect "a FIFO as the hive: ${args:-report}" "$status $(cat "$tmp/err")" "2 endpointfix-offline: $tmp/fifo: is not a regular file"
done
for log in fifo directory zero; do
    for args in "" --apply "--recover $tmp/out"; do
        fresh dirty && rm -f "$h.LOG2"
        case $log in fifo) mkfifo "$h.LOG2" ;; directory) mkdir "$h.LOG2" ;; zero) ln -s /dev/zero "$h.LOG2" ;; esac
        status=0 && timeout 10 "$program" $args "$h" >/dev/null 2>"$tmp/err" || status=$?
        expect "a $log as SOFTWARE.LOG2: ${args:-report}" "$status $(wc -l <"$tmp/err") $(grep -c 'transaction log SOFTWARE.LOG2 is' "$tmp/err") $(cmp "$h" "$tmp/original" && echo same) $(ls "$tmp/out" 2>/dev/null)" "2 1 1 same "
    done
done

# A clean hive padded to 1 GB, sparse: its base block and bins are the hive, and all that is
# read or written.
fresh clean && truncate -s 1G "$h"
status=0 && timeout 60 "$program" --recover "$tmp/out" "$h" 2>/dev/null || status=$?
expect "--recover of a padded hive" "$status $(cmp "$tmp/out" "$tmp/clean" && echo the-hive)" "0 the-hive"
status=0 && timeout 60 "$program" --apply "$h" >/dev/null 2>&1 || status=$?
expect "--apply on a padded hive: status, size, then" "$status $(stat -c %s "$h") $(after)" "0 $(stat -c %s "$tmp/fixed") 0"
[ "$fail" -eq 0 ] && echo "offline inputs passed"
exit "$fail"
