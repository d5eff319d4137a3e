#!/usr/bin/env bash
# offline_security.sh PROGRAM MAKER BIG: as root, --apply keeps the hive's security: the Windows
# security descriptor, file attributes and creation time on an NTFS volume (ntfs-3g), the POSIX
# ACL and a user. attribute on ext4; refuses, the hive as it was, where an attribute cannot be
# set; clears a stopped run's half-done backup; gives the new hive no ACL from its folder's
# default, and ext4's inode flags; services a hive in "/" (in a mount namespace of its own,
# chrooted). On a big hive (from BIG, big_hive): a kill -9 mid-write leaves no copy open to more
# than the hive, which the next run removes; a SIGTERM after the rename ends the run as one that
# made its changes. Volumes are files in a temporary folder.
set -uo pipefail
program=$(realpath "$1") maker=$2 big=$3
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../scripts/lib/hive.sh"
[ "$(id -u)" = 0 ] || { echo "skipped: mounting needs root"; exit 77; }
tmp=$(mktemp -d) && chmod 755 "$tmp"
trap 'umount -q "$tmp/ntfs" "$tmp/ext4" 2>/dev/null; rm -rf "$tmp"' EXIT
fail=0
expect() { [ "$2" = "$3" ] || { printf 'FAIL %s\n--- got\n%s\n--- want\n%s\n' "$1" "$2" "$3"; fail=1; }; }
attr() { getfattr --absolute-names -e hex -n "$2" "$1" 2>/dev/null | sed -n "s/^$2=//p"; }
hive_from_reg "$maker" "$here/e2e/store.reg" "$tmp/clean" >/dev/null || exit 1
mkdir "$tmp/ntfs" "$tmp/ext4" && truncate -s 96M "$tmp/ntfs.img" && truncate -s 16M "$tmp/ext4.img"
mkntfs -F -Q "$tmp/ntfs.img" >/dev/null 2>&1 && ntfs-3g "$tmp/ntfs.img" "$tmp/ntfs" 2>/dev/null &&
    mkfs.ext4 -q "$tmp/ext4.img" && mount -o loop "$tmp/ext4.img" "$tmp/ext4" 2>/dev/null ||
    { echo "skipped: cannot mount an NTFS (ntfs-3g) and an ext4 volume here"; exit 77; }

# Owner SYSTEM (S-1-5-18), group SYSTEM, and a DACL granting full control (0x001f01ff) to SYSTEM
# and to Administrators (S-1-5-32-544) alone: a self-relative descriptor as Windows writes one.
sd=0x010004801400000020000000000000002c000000 # revision, control, offsets of owner, group, DACL
sd+=010100000000000512000000010100000000000512000000 # owner and group: S-1-5-18
sd+=0200340002000000 # the DACL's header: 52 bytes, two entries
sd+=00001400ff011f00010100000000000512000000 # allow full control: S-1-5-18
sd+=00001800ff011f0001020000000000052000000020020000 # allow full control: S-1-5-32-544
# CASE  FILE  ATTRIBUTE  SET-COMMAND (on FILE)
cases=(
    "ntfs descriptor|$tmp/ntfs/SOFTWARE|system.ntfs_acl|setfattr -n system.ntfs_acl -v $sd"
    "ext4 POSIX ACL|$tmp/ext4/SOFTWARE|system.posix_acl_access|setfacl -m u:65534:r"
    "ext4 user attribute|$tmp/ext4/SOFTWARE|user.origin|setfattr -n user.origin -v golden-image"
)
for c in "${cases[@]}"; do
    IFS='|' read -r name file key set <<<"$c"
    cp "$tmp/clean" "$file" && $set "$file" && want=$(attr "$file" "$key")
    status=0 && "$program" --apply "$file" >/dev/null 2>"$tmp/err" || status=$?
    expect "$name: status, attribute kept" "$status $(attr "$file" "$key") $(cat "$tmp/err")" "0 $want "
done
expect "ntfs descriptor: the bytes written" "$(attr "$tmp/ntfs/SOFTWARE" system.ntfs_acl)" "$sd"

# Hidden, system and archive (0x26), and a creation time: set again after the data is written.
f=$tmp/ntfs/SOFTWARE && cp "$tmp/clean" "$f" && setfattr -n system.ntfs_attrib -v 0x26000000 "$f" &&
    setfattr -n system.ntfs_crtime -v 0x0080e9a3c3a5d201 "$f"
status=0 && "$program" --apply "$f" >/dev/null 2>"$tmp/err" || status=$?
expect "ntfs attributes and creation time" "$status $(attr "$f" system.ntfs_attrib) $(attr "$f" system.ntfs_crtime) $(cat "$tmp/err")" \
    "0 0x26000000 0x0080e9a3c3a5d201 "

# signalled SIGNAL WHEN HIVE COMMAND...: runs COMMAND, its report into a pipe of one page that is
# read only once SIGNAL is sent, which is once WHEN holds: "copy", a new file beside HIVE holds
# bytes; "renamed", HIVE is another file. Prints the status as the shell tells it.
signalled() {
    python3 - "$@" 2>"$tmp/err" <<'EOF'
import glob, fcntl, os, signal, subprocess, sys, time
sig, when, hive, *command = sys.argv[1:]
read, write = os.pipe()
fcntl.fcntl(write, 1031, 4096)  # F_SETPIPE_SZ
inode = os.stat(hive).st_ino
child = subprocess.Popen(command, stdout=write)
os.close(write)
def holds():
    if when == "renamed": return os.stat(hive).st_ino != inode
    copies = glob.glob(os.path.join(os.path.dirname(hive), "." + os.path.basename(hive) + ".endpointfix-*"))
    return any(os.stat(c).st_size > 0 for c in copies if os.path.exists(c))
while child.poll() is None and not holds(): time.sleep(0.001)
child.send_signal(getattr(signal, "SIG" + sig))
while os.read(read, 65536): pass
status = child.wait()
print(128 - status if status < 0 else status)
EOF
}
"$big" "$tmp/big" 20 && mkdir "$tmp/ntfs/big" && f=$tmp/ntfs/big/SOFTWARE && cp "$tmp/big" "$f" &&
    setfattr -n system.ntfs_acl -v "$sd" "$f" && before=$(sha256sum <"$f") || exit 1
status=$(signalled KILL copy "$f" "$program" --apply "$f")
expect "kill -9 mid-write: status, hive, the copy's descriptor" \
    "$status $(sha256sum <"$f") $(for c in "$tmp"/ntfs/big/.SOFTWARE.endpointfix-*; do attr "$c" system.ntfs_acl; done)" "137 $before $sd"
left=$(cd "$tmp/ntfs/big" && ls -A | grep -F .SOFTWARE.endpointfix-) status=0
"$program" --apply "$f" >/dev/null 2>"$tmp/err" || status=$?
expect "the next run: status, folder, message" "$status $(ls -A "$tmp/ntfs/big") $(cat "$tmp/err")" \
    "0 SOFTWARE endpointfix-offline: $f: removed $left, left beside it by a run that was stopped"
cp "$tmp/big" "$f" && status=$(signalled TERM renamed "$f" "$program" --apply "$f")
expect "SIGTERM after the rename: status, message, changed" "$status $(cat "$tmp/err") $(cmp -s "$tmp/big" "$f" || echo changed)" \
    "0 endpointfix-offline: $f: interrupted after the hive was replaced; it holds the changes changed"

# A file capability: kept by root, but a user who owns the hive may not set one.
cp "$tmp/clean" "$tmp/ext4/SOFTWARE" && chown 65534:65534 "$tmp/ext4" "$tmp/ext4/SOFTWARE" &&
    setfattr -n security.capability -v 0x0100000200040000000000000000000000000000 "$tmp/ext4/SOFTWARE"
before=$(sha256sum <"$tmp/ext4/SOFTWARE") status=0
setpriv --reuid=65534 --regid=65534 --clear-groups "$program" --apply "$tmp/ext4/SOFTWARE" >/dev/null 2>"$tmp/err" || status=$?
expect "an attribute that cannot be set: status, hive, folder, message" \
    "$status $(sha256sum <"$tmp/ext4/SOFTWARE") $(LC_ALL=C ls -A "$tmp/ext4" | paste -sd' ') $(grep -c 'security.capability' "$tmp/err")" \
    "2 $before SOFTWARE lost+found 1"

# What a kill -9 between the backup's link and the rename leaves: the hive's second name
# SOFTWARE.bak and the new file beside it, both cleared by the next --apply in one line.
f=$tmp/ext4/SOFTWARE && cp "$tmp/clean" "$f" && ln "$f" "$f.bak" && cp "$tmp/clean" "$tmp/ext4/.SOFTWARE.endpointfix-Ab12Cd"
status=0 && "$program" --apply --backup "$f" >/dev/null 2>"$tmp/err" || status=$?
expect "a kill's half-done backup: status, folder, names of each, backup, message" \
    "$status $(LC_ALL=C ls -A "$tmp/ext4" | paste -sd' ') $(stat -c %h "$f" "$f.bak" | paste -sd' ') $(cmp -s "$tmp/clean" "$f.bak" && echo kept) $(cat "$tmp/err")" \
    "0 SOFTWARE SOFTWARE.bak lost+found 1 1 kept endpointfix-offline: $f: removed SOFTWARE.bak, a second name of the hive that a run stopped before its rename left, and .SOFTWARE.endpointfix-Ab12Cd, left beside it by a run that was stopped"
# In a folder with a default ACL, a hive with none gets none from it.
mkdir "$tmp/ext4/acl" && setfacl -d -m u:1000:rwx "$tmp/ext4/acl" && f=$tmp/ext4/acl/SOFTWARE && cp "$tmp/clean" "$f" &&
    setfacl -b "$f" && chmod 600 "$f"
status=0 && "$program" --apply "$f" >/dev/null 2>"$tmp/err" || status=$?
expect "a folder's default ACL: status, the hive's ACL, mode" "$status $(getfacl -c "$f" | grep . | paste -sd' ') $(stat -c %a "$f") $(cat "$tmp/err")" \
    "0 user::rw- group::--- other::--- 600 "

# ext4's inode flags that do not stop a write (no dump, no atime updates) are the new hive's too.
f=$tmp/ext4/SOFTWARE && cp "$tmp/clean" "$f" && chattr +dA "$f" && want=$(lsattr "$f" | cut -d' ' -f1)
status=0 && "$program" --apply "$f" >/dev/null 2>"$tmp/err" || status=$?
expect "ext4 inode flags: status, flags, message" "$status $(lsattr "$f" | cut -d' ' -f1) $(cat "$tmp/err")" "0 $want "

# A hive in "/": chrooted into a folder that holds the program, /usr and /proc, in a mount
# namespace that ends with the run.
root=$tmp/root && mkdir -p "$root/usr" "$root/proc" "$root/tmp" && cp "$tmp/clean" "$root/SOFTWARE"
cp "$program" "$root/" && for l in lib lib64 bin; do [ -L "/$l" ] && ln -s "usr/$l" "$root/$l"; done
status=0 && unshare -m sh -c "mount --bind /usr '$root/usr' && mount -t proc proc '$root/proc' &&
    exec chroot '$root' '/$(basename "$program")' --apply /SOFTWARE" >/dev/null 2>"$tmp/err" || status=$?
expect "a hive in /: status, messages, changed" "$status $(cat "$tmp/err") $(cmp -s "$tmp/clean" "$root/SOFTWARE" || echo changed)" "0  changed"
[ "$fail" -eq 0 ] && echo "offline security passed"
exit "$fail"
