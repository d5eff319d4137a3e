#!/usr/bin/env bash
# Checks the built program: PE32 for i386, windowed subsystem, only system DLLs imported, and
# the bare application manifest as its one resource.
set -euo pipefail
exe=$1
fail=0
check() {  # check WHAT GOT WANT
    if [ "$2" != "$3" ]; then
        printf 'FAIL %s\n  got:  %s\n  want: %s\n' "$1" "$2" "$3"
        fail=1
    fi
}
headers=$(i686-w64-mingw32-objdump -p "$exe")
check "file format" "$(sed -n 's/.*file format //p' <<<"$headers")" "pei-i386"
check "optional header magic" "$(awk '/^Magic/ {print $2, $3}' <<<"$headers")" "010b (PE32)"
check "subsystem" "$(awk '/^Subsystem/ {print $2, $3, $4}' <<<"$headers")" "00000002 (Windows GUI)"
check "imported DLLs" "$(awk '/DLL Name:/ {print toupper($3)}' <<<"$headers" | sort | paste -sd' ')" \
    "ADVAPI32.DLL KERNEL32.DLL MSVCRT.DLL"

resources=$(i686-w64-mingw32-windres -i "$exe" -J coff -O rc)
check "resources" "$(grep -E '^[0-9]+ [0-9]+' <<<"$resources" | paste -sd' ')" "1 24 /* RT_MANIFEST */"
manifest=$(perl -ne 'while (/\\x([0-9a-f]{4})/g) { print pack("v", hex $1) }' <<<"$resources" | tr -d '\0')
check "manifest" "$manifest" \
    '<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0"></assembly>'

[ "$fail" -eq 0 ] && echo "executable check passed: $exe"
exit "$fail"
