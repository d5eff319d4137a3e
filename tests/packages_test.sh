#!/usr/bin/env bash
# ensure_packages against stand-ins for apt-get, dpkg-query, dpkg and id on PATH: a mirror out
# of step (the update fails and every :i386 package is refused unless versions are named, as with
# matched versions), apt's simulation of that install (SIM), and a native package refused.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d) && trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/bin"
stub() { printf '#!/bin/sh\n%s\n' "$2" >"$tmp/bin/$1" && chmod +x "$tmp/bin/$1"; }
stub id 'echo 0'
stub dpkg-query 'grep -qx "$3" "$STUB/installed" && echo "install ok installed"; true'
stub dpkg 'case $1 in --print-architecture) echo amd64 ;; *) echo i386 ;; esac'
stub apt-get 'case $1 in update) echo "E: Failed to fetch i386/Packages.xz  File has unexpected size" >&2; exit 100 ;;
    indextargets) echo "$STUB/lists"; exit ;; -s) printf "%b\n" "$SIM"; exit ;; esac
case "$*" in *=*) ;; *) for p in "$@"; do case $p in -*|install) ;; $REFUSED) echo "E: Unable to satisfy dependencies of $p" >&2; exit 100 ;; esac; done ;; esac
for p in "$@"; do case $p in -*|install) ;; *) echo "$p" >>"$STUB/installed" ;; esac; done'
# What set-up found on this machine, and what CI allows, is not the stand-ins' business.
unset WINE32_MISSING ENDPOINTFIX_ALLOW_DOWNGRADE
# The lists and status matched_versions.py reads: libfoo's i386 half only at the older version.
printf 'Package: %s\nArchitecture: %s\nVersion: %s\nMulti-Arch: same\n%s\n\n' wine32 i386 1 'Depends: libfoo' \
    libfoo i386 1 '' libfoo amd64 1 '' libfoo amd64 2 '' >"$tmp/lists"
printf 'Package: libfoo\nArchitecture: amd64\nVersion: 2\nStatus: install ok installed\n' >"$tmp/status"
fail=0
case_() {  # case_ NAME REFUSED SIM PACKAGES... ; prints status, what was installed, WINE32_MISSING, stderr's last line
    : >"$tmp/installed"
    local got
    got=$(STUB=$tmp REFUSED=$2 SIM=$3 DPKG_ADMINDIR=$tmp PATH=$tmp/bin:$PATH bash -c '. "$1/../scripts/lib/packages.sh"; shift
        ensure_packages "$@"; echo "status $? [$(sort "$STUB/installed" | xargs)] [${WINE32_MISSING:-}]"' _ "$here" "${@:4}" 2>"$tmp/err")
    echo "$got | $(tail -n 1 "$tmp/err")"
}
expect() { [ "$2" = "$3" ] || { printf 'FAIL %s\n got: %s\nwant: %s\n' "$1" "$2" "$3"; fail=1; }; }
moved='The following packages will be DOWNGRADED:\n  libfoo\n0 upgraded, 2 newly installed, 1 downgraded, 0 to remove and 3 not upgraded.'
expect "mirror out of step, i386 refused, matched versions downgrade, allowed" "$(ENDPOINTFIX_ALLOW_DOWNGRADE=1 case_ i386 '*:i386' "Inst wine32:i386 (1)\n$moved" cmake wine32:i386 wine64)" \
    "status 0 [cmake libfoo:amd64=1 libfoo:i386=1 wine32:i386 wine64] [] | 32-bit Wine: installing with matched library versions: 0 upgraded, 2 newly installed, 1 downgraded (libfoo)"
expect "mirror out of step, i386 refused, matched versions downgrade, not allowed" "$(case_ i386 '*:i386' "Inst wine32:i386 (1)\n$moved" cmake wine32:i386 wine64)" \
    "status 0 [cmake wine64] [E: Unable to satisfy dependencies of wine32:i386; with matched library versions: apt would take installed packages back to older versions (libfoo); ENDPOINTFIX_ALLOW_DOWNGRADE=1 allows it] | 32-bit Wine could not be installed (apt: E: Unable to satisfy dependencies of wine32:i386; with matched library versions: apt would take installed packages back to older versions (libfoo); ENDPOINTFIX_ALLOW_DOWNGRADE=1 allows it); its tests will be skipped"
expect "mirror out of step, i386 refused, matched versions only install" "$(case_ i386 '*:i386' "Inst wine32:i386 (1)\n0 upgraded, 2 newly installed, 0 to remove" cmake wine32:i386 wine64)" \
    "status 0 [cmake libfoo:amd64=1 libfoo:i386=1 wine32:i386 wine64] [] | 32-bit Wine: installing with matched library versions: 0 upgraded, 2 newly installed"
expect "mirror out of step, i386 refused, matched versions would remove a package" "$(case_ i386 '*:i386' "Remv libfoo-dev [2]\n$moved" cmake wine32:i386 wine64)" \
    "status 0 [cmake wine64] [E: Unable to satisfy dependencies of wine32:i386; with matched library versions: apt would remove libfoo-dev] | 32-bit Wine could not be installed (apt: E: Unable to satisfy dependencies of wine32:i386; with matched library versions: apt would remove libfoo-dev); its tests will be skipped"
expect "a native package refused" "$(case_ native 'cmake' '' cmake wine32:i386 wine64)" \
    "status 1 [] [] | set-up failed: apt could not install cmake wine64: E: Unable to satisfy dependencies of cmake"
expect "all there: silent" "$(echo cmake >"$tmp/installed"; STUB=$tmp PATH=$tmp/bin:$PATH bash -c '. "$1/../scripts/lib/packages.sh"
    ensure_packages cmake; echo "status $?"' _ "$here" 2>&1)" "status 0"
[ "$fail" -eq 0 ] && echo "packages passed"
exit "$fail"
