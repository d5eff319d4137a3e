#!/usr/bin/env bash
# image.sh PROGRAM MAKER DIRTY: endpointfix-offline --image on small NTFS disk images made with
# guestfish: a Windows layout (the SOFTWARE hive made as offline.sh makes them, what inspection
# needs, logs and an unrelated file), a hibernated one whose hive is dirty (made by DIRTY,
# make_dirty_hive, with logs that change an endpoint), and one without Windows. The Windows one
# is serviced in the formats hypervisors use (raw, qcow2, VHDX, VMDK, fixed and dynamic VHD) in
# batch runs, the other two, a qcow2 image with a backing file, one cut short, one that cannot be
# written and one given twice among them. Each image's status and output must be those of the
# hive-file run on the same hive; its hive carries a Windows-like security descriptor, which the
# hive written back must keep. Then SIGTERM at three points of a run, and a full disk. Every start
# of libguestfs' appliance costs some 20 to 60 s without KVM: this test makes thirteen.
set -uo pipefail
program=$1 maker=$2 dirty=$3
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../scripts/lib/hive.sh"
tmp=$(mktemp -d) holder=
trap '[ -n "$holder" ] && kill "$holder"; umount "$tmp/full" 2>/dev/null; chattr -i "$tmp"/*.img 2>/dev/null; rm -rf "$tmp"' EXIT
# Where KVM fails at once (nested virtual machines), the appliance needs QEMU's emulator.
timeout 3 qemu-system-x86_64 -accel kvm -cpu host -display none -nodefaults -S -monitor none >/dev/null 2>&1
[ $? -eq 124 ] || export LIBGUESTFS_BACKEND_SETTINGS=force_tcg
fail=0
expect() { [ "$2" = "$3" ] || { printf 'FAIL %s\n--- got\n%s\n--- want\n%s\n' "$1" "$2" "$3"; fail=1; }; }
run() { status=0; "$program" "$@" >"$tmp/out" 2>"$tmp/err" || status=$?; }
# A run's status, stdout and stderr, with the hive's path (image's, or the file's) as HIVE.
said() { printf '%s\n' "$status" "$(sed "s|$1|HIVE|g" "$tmp/out")" "$(sed "s|$1|HIVE|g" "$tmp/err")"; }
state() { echo "$(sha256sum <"$1" | cut -c1-16) $(stat -c %y "$1")"; }
export_of() { hivexregedit --export --prefix 'HKEY_LOCAL_MACHINE\SOFTWARE' "$1" '\' | sort; }

cd "$tmp" && mkdir win hib
printf '\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\n"ProductName"="Windows 10 Pro"\n' |
    cat "$here/e2e/store.reg" - >store.reg
hive_from_reg "$maker" store.reg win/SOFTWARE && "$maker" SYSTEM &&
    printf '[HKEY_LOCAL_MACHINE\\SYSTEM\\Select]\n"Current"=dword:00000001\n\n[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001]\n' >system.reg &&
    hivexregedit --merge --prefix 'HKEY_LOCAL_MACHINE\SYSTEM' SYSTEM system.reg || exit 1
printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\MMDevices\\Audio\\Capture\\%s]\n"DeviceState"=dword:00000001\n' \
    '{0.0.1.00000000}.{11111111-0000-0000-0000-000000000001}' >later.reg && cp win/SOFTWARE later &&
    hivexregedit --merge --prefix 'HKEY_LOCAL_MACHINE\SOFTWARE' later later.reg && "$dirty" split hib/SOFTWARE win/SOFTWARE later &&
    mv hib/SOFTWARE.LOG2 hib/software.log2 || exit 1
echo log1 >win/SOFTWARE.LOG1 && echo log2 >win/software.log2
perl -e 'print "MZ", "\0" x 58, pack("V", 64), "PE\0\0", pack("vvVVVvv", 0x8664, 0, 0, 0, 0, 240, 0x22),
    pack("v", 0x20b), "\0" x 66, pack("v", 3), "\0" x 170' >cmd.exe  # a PE32+ console header
{ printf HIBR && head -c 4092 /dev/zero; } >hiberfil.sys && truncate -s 32M win.img hib.img none.img
# A self-relative security descriptor as Windows gives SOFTWARE: revision 1, control
# SE_SELF_RELATIVE|SE_DACL_PRESENT, owner and group at 0x48 and 0x54, no SACL, the DACL at 0x14
# (revision 2, 0x34 bytes, two ACEs: ACCESS_ALLOWED, mask FILE_ALL_ACCESS 0x001f01ff, for SYSTEM
# S-1-5-18 and for Administrators S-1-5-32-544); owner and group SYSTEM.
sd=$(printf %s 01000480 48000000 54000000 00000000 14000000  02003400 02000000 \
    00001400 ff011f00 010100000000000512000000  00001800 ff011f00 01020000000000052000000020020000 \
    010100000000000512000000 010100000000000512000000)
layout() { printf 'part-disk %s mbr\nmkfs ntfs %s1\nmount %s1 /\nmkdir-p /Windows/System32/config\nwrite /notes.txt unrelated\n' "$1" "$1" "$1"
    [ "$2" = none ] || printf 'copy-in %s/SOFTWARE %s/SOFTWARE.LOG1 %s/software.log2 SYSTEM /Windows/System32/config\nupload cmd.exe /Windows/System32/cmd.exe\n' "$2" "$2" "$2"
    [ "$2" = win ] && echo "debug sh \"setfattr -n system.ntfs_acl -v 0x$sd /sysroot/Windows/System32/config/SOFTWARE\""
    [ "$2" = hib ] && echo 'upload hiberfil.sys /hiberfil.sys'; echo umount-all; }
{ echo run; layout /dev/sda win; layout /dev/sdb hib; layout /dev/sdc none; } | guestfish -a win.img -a hib.img -a none.img >/dev/null &&
    qemu-img convert -f raw -O qcow2 win.img win.qcow2 && qemu-img convert -f raw -O vhdx win.img win.vhdx &&
    qemu-img convert -f raw -O vmdk win.img win.vmdk && qemu-img convert -f raw -O vpc -o subformat=fixed win.img fixed.vhd &&
    qemu-img convert -f raw -O vpc -o subformat=dynamic win.img dynamic.vhd &&
    qemu-img create -q -f qcow2 -b "$tmp/win.qcow2" -F qcow2 over.qcow2 && head -c 16M win.img >cut.img &&
    cp win.qcow2 fresh.qcow2 || exit 1
# An image that cannot be opened for writing: immutable (root), else without write permission.
unwritable() { cp win.img "$1" && { chattr +i "$1" 2>/dev/null || chmod a-w "$1"; }; }
unwritable imm.img || exit 1
nowrite=$(echo x 2>&1 >>imm.img | sed 's/.*: //')  # the system's words for it
# What cut.img's partition table wants: its one partition's end, from sfdisk.
cut="cut.img: is cut short: 16 MiB of a $(( $(sfdisk -d win.img | sed -nE 's/.*start= *([0-9]+), size= *([0-9]+).*/(\1+\2)*512/p') >> 20 )) MiB disk (its partition table reaches past its end)"
head_of() { printf '== %s (/dev/sda1): /Windows/System32/config/SOFTWARE\n' "$1"; }
hive=win.img:/Windows/System32/config/SOFTWARE images="win.img win.qcow2 win.vhdx win.vmdk fixed.vhd dynamic.vhd"
# Each image's format as qemu-img tells it (a fixed VHD is its disk's bytes, then a footer that
# begins "conectix"), and its bytes and modification time.
format() { printf %s "$(qemu-img info --output=json "$1" | jq -r .format)"; [ "${1##*.}" != vhd ] || printf ' %s' "$(tail -c 512 "$1" | head -c 8)"; }
formats() { for image in $images; do format "$image"; echo; done | paste -sd' '; }
states() { for image in "$@"; do state "$image"; done; }
want_formats="raw qcow2 vhdx vmdk raw conectix vpc conectix"
all_of() { for image in $images; do printf -- '--image %s ' "$image"; done; }
# The output of a batch run with each image's hive as HIVE.
said_all() { local out err; out=$(cat "$tmp/out") err=$(cat "$tmp/err")
    for image in $images hib.img imm.img; do out=${out//$image:\/Windows\/System32\/config\/SOFTWARE/HIVE} err=${err//$image:\/Windows\/System32\/config\/SOFTWARE/HIVE}; done
    printf '%s\n' "$status" "$out" "$err"; }

# Report and --json in one run each, over every format, the hibernated image (whose report is
# its dirty hive's), one without Windows, one with a backing file, one cut short, one that cannot
# be written (read-only is enough for a report), and one given twice: each image's report is that
# of its hive file, after a line naming it, in the order given; the refused in one line each, the
# one given twice serviced once; the status the highest. --reg of one image. Every image untouched.
before=$(states $images hib.img none.img over.qcow2 cut.img imm.img)
run "$tmp/win/SOFTWARE" && report=$(cat "$tmp/out") && run "$tmp/hib/SOFTWARE" && hib_report=$(cat "$tmp/out") hib_said=$(cat "$tmp/err")
run $(all_of) --image none.img --image over.qcow2 --image hib.img --image cut.img --image imm.img --root /dev/sda1 --image ./win.img
refusals="endpointfix-offline: none.img: holds no Windows installation (no Windows/System32/config/SOFTWARE)
endpointfix-offline: over.qcow2: names the backing file $tmp/win.qcow2, which is not opened: an image may name any file of this machine. Make one image of the two, once you trust the backing file, with qemu-img convert -O qcow2 over.qcow2 FLAT, and service FLAT"
expect "report of a batch" "$(said_all)" "$(printf '%s\n' 2 "$(for i in $images; do head_of "$i"; echo "${report//$tmp\/win\/SOFTWARE/HIVE}"; done)
$(head_of hib.img)
${hib_report//$tmp\/hib\/SOFTWARE/HIVE}
$(head_of imm.img)
${report//$tmp\/win\/SOFTWARE/HIVE}" "$refusals
${hib_said//$tmp\/hib\/SOFTWARE/HIVE}
endpointfix-offline: $cut
endpointfix-offline: ./win.img: is the same file as win.img, given before: serviced once")"
# --json: one document per image given, the refused with the reason; image, partition and path
# in fields of their own.
run --json "$tmp/win/SOFTWARE" && want=$(sed "s|$tmp/win/SOFTWARE|HIVE|g" "$tmp/out")
run --json $(all_of) --image cut.img && expect "--json of a batch, one document each" \
    "$status $(jq -r '[.source, .image, .partition, .path, .status, .refused] | join("|")' "$tmp/out" | paste -sd' ')
$(jq -c 'select(.refused == null) | del(.source, .image, .partition, .path)' "$tmp/out" | sort -u)" \
    "2 $(for i in $images; do printf '%s ' "$i:/Windows/System32/config/SOFTWARE|$i|/dev/sda1|/Windows/System32/config/SOFTWARE|1|"; done)cut.img|cut.img|||2|${cut#cut.img: }
$(jq -c 'del(.source)' <<<"$want")"
run --reg "$tmp/win/SOFTWARE" && want=$(said "$tmp/win/SOFTWARE")
run --reg --image win.img; expect "--image --reg" "$(said "$hive")" "$want"
expect "images after the reports" "$(states $images hib.img none.img over.qcow2 cut.img imm.img)" "$before"

# --apply --backup over every format in one run, the refused ones among them: each image's report
# that of the hive-file --apply, each still in its format; the refused ones untouched. A second
# --apply --backup, SOFTWARE.bak there now, writes nothing: no image's bytes or modification time
# change, and nothing is refused.
cp -r win applied && run --apply "$tmp/applied/SOFTWARE" && applied=$(cat "$tmp/out")
before=$(states hib.img none.img over.qcow2 cut.img imm.img)
run --apply --backup $(all_of) --image none.img --image over.qcow2 --image hib.img --image cut.img --image imm.img
expect "--apply --backup of a batch" "$(said_all)" "$(printf '%s\n' 2 "$(for i in $images; do head_of "$i"; echo "${applied//$tmp\/applied\/SOFTWARE/HIVE}"; done)
$(head_of imm.img)" \
    "$refusals
endpointfix-offline: hib.img: holds a hibernated Windows (its hiberfil.sys holds a hibernation image, which Windows resumes from, losing what was written meanwhile); start that Windows and shut it down fully (shutdown /s /t 0), or disable Fast Startup, then run again
endpointfix-offline: $cut
endpointfix-offline: HIVE: the changes cannot be written: the image cannot be opened for writing: $nowrite; the image is as it was")"
expect "images refused by --apply" "$(states hib.img none.img over.qcow2 cut.img imm.img)" "$before"
expect "each image in its format" "$(formats)" "$want_formats"
# The same again, with --json, an unwritable image with nothing to change (done.img) among them:
# nothing is written, and only the two with reasons are refused.
unwritable done.img || exit 1
after=$(states $images done.img) && run --json --apply --backup $(all_of) --image done.img --image cut.img --image imm.img
expect "a second --apply --backup" "$status $(states $images done.img) $(jq -r '[.image, .status, .refused // .summary.changes] | join("|")' "$tmp/out" | paste -sd' ')" \
    "2 $after $(for i in $images done.img; do printf '%s ' "$i|0|0"; done)cut.img|2|${cut#cut.img: } imm.img|2|the changes cannot be written: the image cannot be opened for writing: $nowrite; the image is as it was"

# What the images hold now: the hives, and the security descriptors (hex) of each new hive and
# backup, which must be the one set, byte for byte.
acl() { echo "lgetxattr /Windows/System32/config/$1 system.ntfs_acl | od -An -v -tx1 | tr -d ' \\n' >$2"; }
disk=0 letters=abcdefgh && guestfish >/dev/null <<EOF
$(for image in $images; do f=$(format "$image") && echo "add $image readonly:true format:${f%% *}"; done)
run
$(for image in $images; do d=/dev/sd${letters:disk++:1} && mkdir "in.$image" && echo "mount-ro ${d}1 /" && echo "copy-out /Windows/System32/config /notes.txt in.$image" &&
    acl SOFTWARE "in.$image/acl.new" && acl SOFTWARE.bak "in.$image/acl.bak" && echo umount-all; done)
EOF
for image in $images; do
    cd "in.$image" && expect "the hive written back into $image" "$(export_of config/SOFTWARE)" "$(export_of ../applied/SOFTWARE)"
    for file in new bak; do expect "the security descriptor of $file in $image" "$(cat acl.$file)" "$sd"; done
    expect "the backup in $image" "$(cmp config/SOFTWARE.bak ../win/SOFTWARE && echo same)" same
    expect "what else is there in $image" "$(LC_ALL=C ls config | paste -sd' ') $(cat config/SOFTWARE.LOG1 config/software.log2 notes.txt | paste -sd' ')" \
        "SOFTWARE SOFTWARE.LOG1 SOFTWARE.bak SYSTEM software.log2 log1 log2 unrelated"
    cd "$tmp"
done

# Refusals: status 2 and one line naming the image and the reason.
refused() {  # refused CASE TEXT...: each TEXT in the one line
    local name=$1 got="$status $(wc -l <"$tmp/err")" want="2 1" text && shift
    for text; do got+=" $(grep -c -F -e "$text" "$tmp/err")" want+=" 1"; done
    expect "refused: $name" "$got" "$want"
}
# --root for the image before it, named as the image alone names it: win.img is the second disk.
run --image win.qcow2 --image win.img --root /dev/sda2; refused "none on --root" "win.img: holds no Windows installation on /dev/sda2 (only on /dev/sda1)"
echo 'not an image' >text.img && run --image text.img; refused "not an image" "text.img: is not a disk image"
run --image missing.img; refused "missing" "missing.img: cannot open: No such file"
LIBGUESTFS_HV=/bin/false run --image win.img
refused "the appliance does not start" "win.img: cannot start libguestfs' appliance" "set LIBGUESTFS_BACKEND_SETTINGS=force_tcg"
qemu-system-x86_64 -S -display none -nodefaults -monitor none -drive file=win.img,format=raw & holder=$!
sleep 2 && run --image win.img; refused "in use by a virtual machine" "win.img: is in use by another process"
kill "$holder" && holder=
mkdir alone && cp "$program" alone/ && program=alone/endpointfix-offline run --image win.img
refused "no helper program" "install the package endpointfix-offline-image"

# SIGTERM at three points of a run (--progress says when each is reached): the appliance's start,
# the image's reading, its write-back, where QEMU is stopped (a guest that does not answer) until
# a second after the signal. Each run ends within seconds, with a line for the image, nothing
# left in TMPDIR (libguestfs' cache kept where it is), and the image or its hive as it was; or,
# where the rename came first, the changes made, said in one line.
act_at() {  # act_at PATTERN ACTION ARGS...: ACTION once PATTERN is on stderr; sets status and took
    local pattern=$1 action=$2 pid i=0 && shift 2
    TMPDIR=$tmp/t LIBGUESTFS_CACHEDIR=${LIBGUESTFS_CACHEDIR:-/var/tmp} "$program" --progress "$@" >"$tmp/out" 2>"$tmp/err" & pid=$!
    until grep -q -F -e "$pattern" "$tmp/err" || [ $((i += 1)) -gt 1800 ]; do sleep 0.1; done
    local start=$SECONDS && eval "$action" && i=0
    while kill -0 "$pid" 2>/dev/null && [ $((i += 1)) -le 900 ]; do sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null; wait "$pid"; status=$? took=$((SECONDS - start))
}
stop_qemu_then_term='for q in $(pgrep -P $pid); do kill -STOP $q; done; kill -TERM $pid; sleep 1; for q in $(pgrep -P $pid); do kill -CONT $q; done'
mkdir t && cp fresh.qcow2 sig.qcow2 && before=$(state sig.qcow2) && stopped=endpointfix-offline:
for point in "starting libguestfs' appliance" "reading sig.qcow2" "writing the new hive back into sig.qcow2"; do
    if [ "${point%% *}" = writing ]; then act_at "$point" "$stop_qemu_then_term" --apply --image sig.qcow2
    else act_at "$point" 'kill -TERM $pid' --apply --image sig.qcow2; fi
    said=$(grep -v -e '^endpointfix-offline: \(starting\|reading\|writing\)' "$tmp/err")
    if [ "${point%% *}" != writing ]; then
        expect "SIGTERM at $point" "$status $((took < 10)) $(ls -A t | wc -l) $(state sig.qcow2) $said" \
            "143 1 0 $before $stopped sig.qcow2: interrupted; the image is as it was"
    elif [ "$status" = 143 ]; then
        expect "SIGTERM at $point" "$status $((took < 15)) $(ls -A t | wc -l) $said" \
            "143 1 0 $stopped sig.qcow2:/Windows/System32/config/SOFTWARE: interrupted; the hive is as it was"
        sig_hive=win/SOFTWARE
    else
        expect "SIGTERM at $point, after the rename" "$status $((took < 15)) $(ls -A t | wc -l) $said" \
            "0 1 0 $stopped sig.qcow2:/Windows/System32/config/SOFTWARE: interrupted after the hive was replaced; it holds the changes"
        sig_hive=applied/SOFTWARE
    fi
done
after_faults="sig.qcow2 $sig_hive"

# A full disk (root: a small tmpfs). The qcow2 image on it with no room for the write-back: refused
# before anything is written. Then a sparse raw image (its free clusters holes, which a write
# fills) with room at the check, its tmpfs filled once the write-back begins: the write fails
# (QEMU reports it, and does not pause the guest), exit 2 within a minute (what the image then
# holds is not promised). Each other image's filesystem still mounts, its hive as it was.
if [ "$(id -u)" -ne 0 ] || ! { mkdir full && mount -t tmpfs -o size=$(( $(stat -c %s fresh.qcow2) + (4 << 20) )) tmpfs full; }; then
    echo "skipped: the full disk (it mounts a tmpfs, which needs root)"
else
    cp fresh.qcow2 full/win.qcow2 && before=$(state full/win.qcow2) && run --apply --image full/win.qcow2
    refused "no room for the write-back" "full/win.qcow2:/Windows/System32/config/SOFTWARE: no room to write back: the file system holding full/win.qcow2 has " "nothing is written, the image is as it was"
    expect "no room: the image" "$(state full/win.qcow2)" "$before"
    qemu-img convert -f qcow2 -O raw fresh.qcow2 fresh.raw &&
    mount -o remount,size=$(( $(stat -c %s fresh.qcow2) + $(du -B1 fresh.raw | cut -f1) + (40 << 20) )) full &&
        cp --sparse=always fresh.raw full/fills.raw &&
        act_at "writing the new hive back into full/fills.raw" 'cat /dev/zero >full/filler 2>/dev/null; :' --apply --image full/fills.raw
    expect "filled during the write-back" "$status $((took < 60)) $(grep -c 'no space left on the file system holding full/fills.raw' "$tmp/err")" "2 1 1"
    rm full/filler && after_faults+=" full/win.qcow2 win/SOFTWARE"
fi
# Each image's hive after the faults, read by guestfish.
set -- $after_faults && disk=0 && guestfish >/dev/null <<EOF
$(for i in $(seq 1 2 $#); do f=${!i} && echo "add $f readonly:true format:$([ "${f##*.}" = raw ] && echo raw || echo qcow2)"; done)
run
$(for i in $(seq 1 2 $#); do echo "mount-ro /dev/sd${letters:disk++:1}1 /" && echo "download /Windows/System32/config/SOFTWARE hive.$i" && echo umount-all; done)
EOF
for i in $(seq 1 2 $#); do j=$((i + 1)) && expect "the hive of ${!i} after a fault" "$(export_of hive.$i)" "$(export_of ${!j})"; done
[ -d full ] && umount full
[ "$fail" -eq 0 ] && echo "image passed"
exit "$fail"
