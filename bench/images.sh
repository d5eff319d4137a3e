#!/usr/bin/env bash
# bench/images.sh [BUILD]: wall times of endpointfix-offline --image, each run a start of
# libguestfs' appliance: one image's report; its --apply, with changes to make, each on a fresh
# copy; and five images' report in one run (the image in raw, qcow2, VHDX, VMDK and VHD). The
# median of RUNS runs (3) each, and the ratios docs/performance.md states. A benchmark, not a
# test: the machine's load is printed beside the figures.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build/native}" && pwd) runs=${RUNS:-3}
. "$here/scripts/lib/hive.sh"
load_before="$(cut -d" " -f1-3 /proc/loadavg) / "
tmp=$(mktemp -d) && trap 'rm -rf "$tmp"' EXIT && cd "$tmp"
# Where KVM fails at once (nested virtual machines), the appliance needs QEMU's emulator.
kvm=yes && timeout 3 qemu-system-x86_64 -accel kvm -cpu host -display none -nodefaults -S -monitor none >/dev/null 2>&1 ||
    [ $? -eq 124 ] || { kvm=no && export LIBGUESTFS_BACKEND_SETTINGS=force_tcg; }

# A small NTFS image whose SOFTWARE hive holds the end-to-end tests' store: changes to make.
hive_from_reg "$build/tests/make_empty_hive" "$here/tests/e2e/store.reg" SOFTWARE && truncate -s 64M win.img
guestfish -a win.img >/dev/null <<EOS
run
part-disk /dev/sda mbr
mkfs ntfs /dev/sda1
mount /dev/sda1 /
mkdir-p /Windows/System32/config
copy-in SOFTWARE /Windows/System32/config
EOS
five=
for format in raw qcow2 vhdx vmdk vpc; do
    qemu-img convert -f raw -O "$format" win.img "five.$format" && five+=" --image five.$format"
done

# The wall time of a run, whatever its status (1: changes pending).
timed() { /usr/bin/time -q -f %e -o time.txt "$build/endpointfix-offline" "$@" >/dev/null 2>&1 || true; cat time.txt; }
median() { sort -n | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'; }
report= apply= batch=
for _ in $(seq "$runs"); do
    report+="$(timed --image win.img) "
    cp win.img fresh.img && apply+="$(timed --apply --image fresh.img) "
    batch+="$(timed $five) "
done
r=$(tr ' ' '\n' <<<"$report" | grep . | median) a=$(tr ' ' '\n' <<<"$apply" | grep . | median)
b=$(tr ' ' '\n' <<<"$batch" | grep . | median)
echo "KVM: $kvm; load average before and after: ${load_before:-}$(cut -d' ' -f1-3 /proc/loadavg)"
echo "one image's report:          $r s   (runs: $report)"
echo "one image's --apply:         $a s   (runs: $apply) = $(awk -v a="$a" -v r="$r" 'BEGIN { printf "%.2f", a / r }')x the report"
echo "five images' report, one run: $b s   (runs: $batch) = $(awk -v b="$b" -v r="$r" 'BEGIN { printf "%.2f", b / r }')x one image's"
