#!/usr/bin/env bash
# check_exe.sh TRIPLE EXE EMPTY KIND: checks a built program: PE32 for i386 or PE32+ for x86-64
# (by the MinGW-w64 TRIPLE it was built with), only system DLLs imported, the bare application
# manifest and a version resource naming the version CMakeLists.txt declares as its only
# resources, and by KIND: the fixing program (windowed, its five registry functions, within 1.25
# times the size of the empty program EMPTY built with the same toolchain and flags) or the check
# (console, no registry function that writes, within 2 times).
set -euo pipefail
triple=$1 exe=$2 empty=$3 kind=$4
registry="RegCloseKey RegEnumKeyA RegOpenKeyExA RegQueryValueExA"
case $kind in
    fix) subsystem="00000002 (Windows GUI)" bound=125 registry="$registry RegSetValueExA" ;;
    check) subsystem="00000003 (Windows CUI)" bound=200 ;;
esac
case $triple in
    i686-*) want_format=pei-i386 want_magic="010b (PE32)" ;;
    x86_64-*) want_format=pei-x86-64 want_magic="020b (PE32+)" ;;
esac
fail=0
check() {  # check WHAT GOT WANT
    if [ "$2" != "$3" ]; then
        printf 'FAIL %s\n  got:  %s\n  want: %s\n' "$1" "$2" "$3"
        fail=1
    fi
}
headers=$("$triple-objdump" -p "$exe")
check "file format" "$(sed -n 's/.*file format //p' <<<"$headers")" "$want_format"
check "optional header magic" "$(awk '/^Magic/ {print $2, $3}' <<<"$headers")" "$want_magic"
check "subsystem" "$(awk '/^Subsystem/ {print $2, $3, $4}' <<<"$headers")" "$subsystem"
check "imported DLLs" "$(awk '/DLL Name:/ {print toupper($3)}' <<<"$headers" | sort | paste -sd' ')" \
    "ADVAPI32.DLL KERNEL32.DLL MSVCRT.DLL"
check "registry functions imported" "$(awk '/DLL Name:/ { dll = toupper($3) } dll == "ADVAPI32.DLL" && NF == 3 && $3 ~ /^Reg/ { print $3 }' <<<"$headers" | sort | paste -sd' ')" \
    "$registry"

resources=$("$triple-windres" -i "$exe" -J coff -O rc)
check "resources" "$(grep -E '^[0-9]+ [0-9A-Z]+' <<<"$resources" | paste -sd' ')" \
    "1 VERSIONINFO 1 24 /* RT_MANIFEST */"
manifest=$(perl -ne 'while (/\\x([0-9a-f]{4})/g) { print pack("v", hex $1) }' <<<"$resources" | tr -d '\0')
check "manifest" "$manifest" \
    '<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0"></assembly>'

version=$(sed -nE 's/^project\(endpointfix VERSION ([0-9.]+).*/\1/p' "$(dirname "$0")/../CMakeLists.txt")
field() { sed -nE "s/^ *$1 (.*)$/\1/p" <<<"$resources"; }
value() { sed -nE "s/^ *VALUE \"$1\", \"(.*)\"$/\1/p" <<<"$resources"; }
for name in FILEVERSION PRODUCTVERSION; do check "$name" "$(field "$name")" "${version//./, }, 0"; done
for name in FileVersion ProductVersion; do check "$name" "$(value "$name")" "$version"; done
check "OriginalFilename" "$(value OriginalFilename)" "$(basename "$exe")"
for name in FileDescription ProductName InternalName; do
    check "$name is given" "$([ -n "$(value "$name")" ] && echo yes)" yes
done
check "names of a company or copyright holder" "$(grep -E 'Company|Copyright|Trademark' <<<"$resources")" ""

size=$(stat -c %s "$exe") floor=$(stat -c %s "$empty")
check "size within $bound% of the empty program's $floor bytes" "$((size * 100 <= floor * bound))" 1

[ "$fail" -eq 0 ] && echo "executable check passed: $exe, $size bytes ($((size * 100 / floor))% of $floor)"
exit "$fail"
