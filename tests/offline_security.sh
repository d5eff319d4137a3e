#!/usr/bin/env bash
# offline_security.sh PROGRAM MAKER: as root, --apply keeps the hive's security: the Windows
# security descriptor on an NTFS volume (ntfs-3g), the POSIX ACL and a user. attribute on ext4;
# refuses, the hive as it was, where an attribute cannot be set; services a hive in "/" (in a
# mount namespace of its own, chrooted). Volumes are files in a temporary folder.
set -uo pipefail
program=$(realpath "$1") maker=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../scripts/lib/hive.sh"
[ "$(id -u)" = 0 ] || { echo "skipped: mounting needs root"; exit 77; }
tmp=$(mktemp -d) && chmod 755 "$tmp"
trap 'umount -q "$tmp/ntfs" "$tmp/ext4" 2>/dev/null; rm -rf "$tmp"' EXIT
fail=0
expect() { [ "$2" = "$3" ] || { printf 'FAIL %s\n--- got\n%s\n--- want\n%s\n' "$1" "$2" "$3"; fail=1; }; }
attr() { getfattr --absolute-names -e hex -n "$2" "$1" 2>/dev/null | sed -n "s/^$2=//p"; }
hive_from_reg "$maker" "$here/e2e/store.reg" "$tmp/clean" >/dev/null || exit 1
mkdir "$tmp/ntfs" "$tmp/ext4" && truncate -s 16M "$tmp/ntfs.img" "$tmp/ext4.img"
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

# A file capability: kept by root, but a user who owns the hive may not set one.
cp "$tmp/clean" "$tmp/ext4/SOFTWARE" && chown 65534:65534 "$tmp/ext4" "$tmp/ext4/SOFTWARE" &&
    setfattr -n security.capability -v 0x0100000200040000000000000000000000000000 "$tmp/ext4/SOFTWARE"
before=$(sha256sum <"$tmp/ext4/SOFTWARE") status=0
setpriv --reuid=65534 --regid=65534 --clear-groups "$program" --apply "$tmp/ext4/SOFTWARE" >/dev/null 2>"$tmp/err" || status=$?
expect "an attribute that cannot be set: status, hive, folder, message" \
    "$status $(sha256sum <"$tmp/ext4/SOFTWARE") $(LC_ALL=C ls -A "$tmp/ext4" | paste -sd' ') $(grep -c 'security.capability' "$tmp/err")" \
    "2 $before SOFTWARE lost+found 1"

# A hive in "/": chrooted into a folder that holds the program, /usr and /proc, in a mount
# namespace that ends with the run.
root=$tmp/root && mkdir -p "$root/usr" "$root/proc" "$root/tmp" && cp "$tmp/clean" "$root/SOFTWARE"
cp "$program" "$root/" && for l in lib lib64 bin; do [ -L "/$l" ] && ln -s "usr/$l" "$root/$l"; done
status=0 && unshare -m sh -c "mount --bind /usr '$root/usr' && mount -t proc proc '$root/proc' &&
    exec chroot '$root' '/$(basename "$program")' --apply /SOFTWARE" >/dev/null 2>"$tmp/err" || status=$?
expect "a hive in /: status, messages, changed" "$status $(cat "$tmp/err") $(cmp -s "$tmp/clean" "$root/SOFTWARE" || echo changed)" "0  changed"
[ "$fail" -eq 0 ] && echo "offline security passed"
exit "$fail"
