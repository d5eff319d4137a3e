#!/usr/bin/env bash
# matched_versions.py on two small package lists (amd64's ahead of i386's, as where the i386 index
# failed to update) and a dpkg status: which versions it names for 32-bit Wine and why.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d) && trap 'rm -rf "$tmp"' EXIT
pkg() {  # pkg NAME ARCH VERSION MULTI-ARCH [DEPENDS [STATUS]]: one stanza
    printf 'Package: %s\nArchitecture: %s\nVersion: %s\nMulti-Arch: %s\nDepends: %s\n%s\n' \
        "$1" "$2" "$3" "$4" "${5:-}" "${6:+Status: $6$'\n'}"
}
{ pkg wine amd64 8.0-4 foreign 'libwine (= 8.0-4)'
  pkg libwine amd64 8.0-4 same 'libssl3 (>= 3), libbar'
  for v in 3.0.17-1 3.0.20-1 3.0.22-1; do pkg libssl3 amd64 $v same; pkg libssl-dev amd64 $v same "libssl3 (= $v)"; done
  for v in 2.0-1 1:1.0-1 1:1.0~rc1-1 1:1.1-1; do pkg libbar amd64 "$v" same; done
  pkg libc6 amd64 2.36-9 same; pkg tzdata all 2024a-0 foreign; pkg libonly amd64 1.1 same
} >"$tmp/amd64"
{ pkg wine32 i386 8.0-4 foreign 'libwine (= 8.0-4), libc6, tzdata, libqux, libmissing'
  pkg libwine i386 8.0-4 same 'libssl3 (>= 3), libbar'
  for v in 3.0.17-1 3.0.20-1; do pkg libssl3 i386 $v same; done
  for v in 2.0-1 1:1.0-1 1:1.0~rc1-1; do pkg libbar i386 "$v" same; done
  pkg libc6 i386 2.36-9 same; pkg tzdata all 2024a-0 foreign; pkg libqux i386 1.0 same; pkg libonly i386 1.1 same
} >"$tmp/i386"
installed='install ok installed'
{ pkg libssl3 amd64 3.0.19-1 same '' "$installed"; pkg libc6 amd64 2.36-9 same '' "$installed"
  pkg libssl-dev amd64 3.0.19-1 same 'libssl3 (= 3.0.19-1)' "$installed"; pkg libonly amd64 1.0 same '' "$installed"
  pkg libold-dev amd64 1.0 same 'libssl3 (= 3.0.19-1)' "$installed"
} >"$tmp/status"
got=$(cat "$tmp/amd64" "$tmp/i386" | DPKG_ADMINDIR=$tmp python3 "$here/../scripts/lib/matched_versions.py" amd64 wine wine32:i386)
fail=0
while IFS='|' read -r name want; do
    case $want in -*) ! grep -qx -- "${want#-}" <<<"$got" ;; *) grep -qx -- "$want" <<<"$got" ;; esac ||
        { printf 'FAIL %s\n got: %s\nwant: %s\n' "$name" "$(xargs <<<"$got")" "$want"; fail=1; }
done <<'CASES'
installed amd64 half ahead of i386: both at the newest both hold|libssl3:amd64=3.0.20-1
...and its i386 half with it|libssl3:i386=3.0.20-1
installed package asking for the moved one's exact version follows it|libssl-dev:amd64=3.0.20-1
one with no version that fits is left to apt|-libold-dev:amd64=1.0
wanted by the amd64 package asked for: epoch and tilde order the versions|libbar:amd64=1:1.0-1
...i386 half|libbar:i386=1:1.0-1
wanted for both, in step|libwine:i386=8.0-4
installed at the common version: only the i386 half is named|libc6:i386=2.36-9
...not the installed half|-libc6:amd64=2.36-9
i386 only: left to apt|-libqux:i386=1.0
not in the dependencies: left alone|-libonly:i386=1.1
CASES
[ "$fail" -eq 0 ] && echo "matched versions passed"
exit "$fail"
