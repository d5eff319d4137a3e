#!/usr/bin/env bash
# image.sh PROGRAM MAKER DIRTY: endpointfix-offline --image on small NTFS disk images made with
# guestfish: a Windows layout (the SOFTWARE hive made as offline.sh makes them, what inspection
# needs, logs and an unrelated file), a hibernated one whose hive is dirty (made by DIRTY,
# make_dirty_hive, with logs that change an endpoint), and one without Windows. The Windows one
# is serviced in the formats hypervisors use (raw, qcow2, VHDX, VMDK, fixed and dynamic VHD) in
# batch runs, the other two and a qcow2 image with a backing file among them. Each image's status
# and output must be those of the hive-file run on the same hive; its hive carries a Windows-like
# security descriptor, which the hive written back must keep. Every start of libguestfs'
# appliance costs some 20 s without KVM: this test makes eight.
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
    qemu-img convert -f raw -O qcow2 win.img win.qcow2 && qemu-img convert -f raw -O vhdx win.img win.vhdx &&
    qemu-img convert -f raw -O vmdk win.img win.vmdk && qemu-img convert -f raw -O vpc -o subformat=fixed win.img fixed.vhd &&
    qemu-img convert -f raw -O vpc -o subformat=dynamic win.img dynamic.vhd &&
    qemu-img create -q -f qcow2 -b "$tmp/win.qcow2" -F qcow2 over.qcow2 || exit 1
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
    for image in $images hib.img; do out=${out//$image:\/Windows\/System32\/config\/SOFTWARE/HIVE} err=${err//$image:\/Windows\/System32\/config\/SOFTWARE/HIVE}; done
    printf '%s\n' "$status" "$out" "$err"; }

# Report and --json in one run each, over every format, the hibernated image (whose report is
# its dirty hive's), one without Windows and one with a backing file: each image's report is that
# of its hive file, in the order given; the two refused in one line each; the status the highest.
# --reg of one image. Every image untouched.
before=$(states $images hib.img none.img over.qcow2)
run "$tmp/win/SOFTWARE" && report=$(cat "$tmp/out") && run "$tmp/hib/SOFTWARE" && hib_report=$(cat "$tmp/out") hib_said=$(cat "$tmp/err")
run $(all_of) --image none.img --image over.qcow2 --image hib.img
refusals="endpointfix-offline: none.img: holds no Windows installation (no Windows/System32/config/SOFTWARE)
endpointfix-offline: over.qcow2: names the backing file $tmp/win.qcow2, which is not opened: an image may name any file of this machine. Make one image of the two, once you trust the backing file, with qemu-img convert -O qcow2 over.qcow2 FLAT, and service FLAT"
expect "report of a batch" "$(said_all)" "$(printf '%s\n' 2 "$(for i in $images; do echo "${report//$tmp\/win\/SOFTWARE/HIVE}"; done)
${hib_report//$tmp\/hib\/SOFTWARE/HIVE}" "$refusals
${hib_said//$tmp\/hib\/SOFTWARE/HIVE}")"
run --json "$tmp/win/SOFTWARE" && want=$(sed "s|$tmp/win/SOFTWARE|HIVE|g" "$tmp/out")
run --json $(all_of) && expect "--json of a batch, one document each" \
    "$status $(jq -r .source "$tmp/out" | paste -sd' ') $(jq -c 'del(.source)' "$tmp/out" | sort -u)" \
    "1 $(for i in $images; do printf '%s ' "$i:/Windows/System32/config/SOFTWARE"; done)$(jq -c 'del(.source)' <<<"$want")"
run --reg "$tmp/win/SOFTWARE" && want=$(said "$tmp/win/SOFTWARE")
run --reg --image win.img; expect "--image --reg" "$(said "$hive")" "$want"
expect "images after the reports" "$(states $images hib.img none.img over.qcow2)" "$before"

# --apply --backup over every format in one run, the refused ones among them: each image's report
# that of the hive-file --apply, each still in its format; the refused ones untouched. A second
# --apply --backup, SOFTWARE.bak there now, writes nothing: no image's bytes or modification time
# change, and nothing is refused.
cp -r win applied && run --apply "$tmp/applied/SOFTWARE" && applied=$(cat "$tmp/out")
before=$(states hib.img none.img over.qcow2)
run --apply --backup $(all_of) --image none.img --image over.qcow2 --image hib.img
expect "--apply --backup of a batch" "$(said_all)" "$(printf '%s\n' 2 "$(for i in $images; do echo "${applied//$tmp\/applied\/SOFTWARE/HIVE}"; done)" \
    "$refusals
endpointfix-offline: hib.img: holds a hibernated Windows (its hiberfil.sys holds a hibernation image, which Windows resumes from, losing what was written meanwhile); start that Windows and shut it down fully (shutdown /s /t 0), or disable Fast Startup, then run again")"
expect "images refused by --apply" "$(states hib.img none.img over.qcow2)" "$before"
expect "each image in its format" "$(formats)" "$want_formats"
after=$(states $images) && run --apply --backup $(all_of)
expect "a second --apply --backup" "$status $(states $images)" "0 $after"

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
