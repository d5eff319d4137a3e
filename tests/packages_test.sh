#!/usr/bin/env bash
# ensure_packages against stand-ins for apt-get, dpkg-query, dpkg and id on PATH: a mirror out
# of step (the update fails and every :i386 package is refused) and a native package refused.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d) && trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/bin"
stub() { printf '#!/bin/sh\n%s\n' "$2" >"$tmp/bin/$1" && chmod +x "$tmp/bin/$1"; }
stub id 'echo 0'
stub dpkg-query 'grep -qx "$3" "$STUB/installed" && echo "install ok installed"; true'
stub dpkg 'echo i386'
stub apt-get 'case $1 in update) echo "E: Failed to fetch i386/Packages.xz  File has unexpected size" >&2; exit 100 ;; esac
for p in "$@"; do case $p in -*|install) ;; $REFUSED) echo "E: Unable to satisfy dependencies of $p" >&2; exit 100 ;; esac; done
for p in "$@"; do case $p in -*|install) ;; *) echo "$p" >>"$STUB/installed" ;; esac; done'
# What set-up found on this machine is not the stand-ins' business.
unset WINE32_MISSING
fail=0
case_() {  # case_ NAME REFUSED PACKAGES... ; prints status, what was installed, WINE32_MISSING, stderr's last line
    : >"$tmp/installed"
    local got
    got=$(STUB=$tmp REFUSED=$2 PATH=$tmp/bin:$PATH bash -c '. "$1/../scripts/lib/packages.sh"; shift
        ensure_packages "$@"; echo "status $? [$(sort "$STUB/installed" | xargs)] [${WINE32_MISSING:-}]"' _ "$here" "${@:3}" 2>"$tmp/err")
    echo "$got | $(tail -n 1 "$tmp/err")"
}
expect() { [ "$2" = "$3" ] || { printf 'FAIL %s\n got: %s\nwant: %s\n' "$1" "$2" "$3"; fail=1; }; }
expect "mirror out of step, i386 refused" "$(case_ i386 '*:i386' cmake wine32:i386 wine64)" \
    "status 0 [cmake wine64] [E: Unable to satisfy dependencies of wine32:i386] | 32-bit Wine could not be installed (apt: E: Unable to satisfy dependencies of wine32:i386); its tests will be skipped"
expect "a native package refused" "$(case_ native 'cmake' cmake wine32:i386 wine64)" \
    "status 1 [] [] | set-up failed: apt could not install cmake wine64: E: Unable to satisfy dependencies of cmake"
expect "all there: silent" "$(echo cmake >"$tmp/installed"; STUB=$tmp PATH=$tmp/bin:$PATH bash -c '. "$1/../scripts/lib/packages.sh"
    ensure_packages cmake; echo "status $?"' _ "$here" 2>&1)" "status 0"
[ "$fail" -eq 0 ] && echo "packages passed"
exit "$fail"
