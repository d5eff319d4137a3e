#!/usr/bin/env bash
# image.sh PROGRAM MAKER DIRTY: endpointfix-offline --image on three small NTFS disk images made
# with guestfish: a Windows layout (the SOFTWARE hive made as offline.sh makes them, what
# inspection needs, logs and an unrelated file), a hibernated one whose hive is dirty (made by
# DIRTY, make_dirty_hive, with logs that change an endpoint), and one without Windows. Each
# run's status and output must be those of the hive-file run on the same hive. The Windows one is
# serviced as a qcow2 copy too; its hive carries a Windows-like security descriptor, which the
# hive written back must keep. Every start of libguestfs' appliance costs some 20 s without KVM:
# this test makes fifteen.
set -uo pipefail
program=$1 maker=$2 dirty=$3
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../scripts/lib/hive.sh"
tmp=$(mktemp -d) holder=
trap '[ -n "$holder" ] && kill "$holder"; rm -rf "$tmp"' EXIT
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
    qemu-img convert -f raw -O qcow2 win.img win.qcow2 || exit 1
hive=win.img:/Windows/System32/config/SOFTWARE

# Report, --reg and --json (which names the hive): those of the hive itself, the image untouched.
before=$(state win.img)
for mode in "" --reg --json; do
    run $mode "$tmp/win/SOFTWARE" && want=$(said "$tmp/win/SOFTWARE")
    run $mode --image win.img; expect "--image ${mode:-report}" "$(said "$hive")" "$want"
    [ -n "$mode" ] || report=$want
done
expect "image after report, --reg and --json" "$(state win.img)" "$before"

# --apply --backup: the report of the hive-file --apply; the hive copied out is the one it writes,
# the backup the old hive; nothing else changed; then a second --apply writes nothing.
cp -r win applied && run --apply "$tmp/applied/SOFTWARE" && want=$(said "$tmp/applied/SOFTWARE")
run --apply --backup --image win.img; expect "--apply --backup" "$(said "$hive")" "$want"
after=$(state win.img) && run --apply --image win.img
expect "a second --apply" "$status $(state win.img)" "0 $after"

# The qcow2 copy (of the image before --apply): its report, and an --apply that leaves it qcow2.
qhive=win.qcow2:/Windows/System32/config/SOFTWARE
run --image win.qcow2; expect "qcow2 report" "$(said "$qhive")" "$report"
cp -r win qapplied && run --apply "$tmp/qapplied/SOFTWARE" && want=$(said "$tmp/qapplied/SOFTWARE")
run --apply --image win.qcow2; expect "qcow2 --apply" "$(said "$qhive")" "$want"
expect "qcow2 stays qcow2" "$(qemu-img info --output=json win.qcow2 | jq -r .format)" qcow2

# What the images hold now: the hives, and the security descriptors (hex) of the new hive and
# the backup, which must be the one set, byte for byte.
acl() { echo "lgetxattr /Windows/System32/config/$1 system.ntfs_acl | od -An -v -tx1 | tr -d ' \\n' >$2"; }
mkdir q && guestfish --ro -a win.img -a win.qcow2 >/dev/null <<EOF
run
mount-ro /dev/sda1 /
copy-out /Windows/System32/config /notes.txt .
$(acl SOFTWARE acl.new; acl SOFTWARE.bak acl.bak)
umount-all
mount-ro /dev/sdb1 /
copy-out /Windows/System32/config/SOFTWARE q
$(acl SOFTWARE acl.q)
EOF
expect "the hive written back" "$(export_of config/SOFTWARE)" "$(export_of applied/SOFTWARE)"
expect "the hive written back into the qcow2 image" "$(export_of q/SOFTWARE)" "$(export_of applied/SOFTWARE)"
for file in new bak q; do expect "the security descriptor of $file" "$(cat acl.$file)" "$sd"; done
expect "the backup" "$(cmp config/SOFTWARE.bak win/SOFTWARE && echo same)" same
expect "what else is there" "$(LC_ALL=C ls config | paste -sd' ') $(cat config/SOFTWARE.LOG1 config/software.log2 notes.txt | paste -sd' ')" \
    "SOFTWARE SOFTWARE.LOG1 SOFTWARE.bak SYSTEM software.log2 log1 log2 unrelated"

# A hibernated volume: --apply refused, image untouched; the report is the dirty hive's own.
before=$(state hib.img) && run --apply --image hib.img
expect "--apply on a hibernated volume" "$status $(grep -c 'hibernated Windows' "$tmp/err") $(state hib.img)" "2 1 $before"
run "$tmp/hib/SOFTWARE" && want=$(said "$tmp/hib/SOFTWARE")
run --image hib.img; expect "report on a hibernated volume" "$(said hib.img:/Windows/System32/config/SOFTWARE)" "$want"

# Refusals: status 2 and one line naming the image and the reason.
refused() {  # refused CASE TEXT...: each TEXT in the one line
    local name=$1 got="$status $(wc -l <"$tmp/err")" want="2 1" text && shift
    for text; do got+=" $(grep -c -F -e "$text" "$tmp/err")" want+=" 1"; done
    expect "refused: $name" "$got" "$want"
}
run --image none.img; refused "no Windows" "none.img: holds no Windows installation"
run --image win.img --root /dev/sda2; refused "none on --root" "win.img: holds no Windows installation on /dev/sda2 (only on /dev/sda1)"
echo 'not an image' >text.img && run --image text.img; refused "not an image" "text.img: is not a disk image"
run --image missing.img; refused "missing" "missing.img: cannot open: No such file"
LIBGUESTFS_HV=/bin/false run --image win.img
refused "the appliance does not start" "win.img: cannot start libguestfs' appliance" "set LIBGUESTFS_BACKEND_SETTINGS=force_tcg"
qemu-system-x86_64 -S -display none -nodefaults -monitor none -drive file=win.img,format=raw & holder=$!
sleep 2 && run --image win.img; refused "in use by a virtual machine" "win.img: is in use by another process"
kill "$holder" && holder=
mkdir alone && cp "$program" alone/ && program=alone/endpointfix-offline run --image win.img
refused "no helper program" "install the package endpointfix-offline-image"
[ "$fail" -eq 0 ] && echo "image passed"
exit "$fail"
