#!/usr/bin/env bash
# package.sh KIND PROGRAMS: the Windows Installer package of KIND (x86 or x64), built from the
# programs in PROGRAMS, under Wine's msiexec in a 64-bit prefix seeded with store.reg: installed
# with /qn it puts both programs in place and runs the fix (the store changes as changes.txt says
# and the installed check exits 0); a newer version replaces it in place, an older one is refused;
# uninstall leaves no file; STARTUPTASK=1 registers the start-up task, and uninstall removes it.
set -euo pipefail
kind=$1 programs=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/lib/wine-store.sh"
. "$here/../../scripts/lib/msi.sh"
loader=$WINE64_LOADER folder="Program Files" fix=endpointfix64.exe check=endpointfix-check64.exe
[ "$kind" = x86 ] && loader=wine folder="Program Files (x86)" fix=endpointfix.exe check=endpointfix-check.exe
wine_require "$loader" "installing the x86 package there takes many minutes"
wine_prefix_up win64 "$WINE64_LOADER"
trap wine_prefix_down EXIT
fail=0
expect() { [ "$2" = "$3" ] || { printf 'FAIL %s (%s)\n--- got\n%s\n--- want\n%s\n' "$1" "$kind" "$2" "$3"; fail=1; }; }
msiexec() { local s=0; "$WINE64_LOADER" msiexec "$@" /qn </dev/null >/dev/null 2>&1 || s=$?; echo "$s"; }
for v in 1.0.0 1.0.1; do build_msi "$kind" "$programs" "$v" 315532800 "$WINE_TMP/$v.msi"; done
dir=$WINEPREFIX/drive_c/$folder/endpointfix task=$WINEPREFIX/drive_c/windows/system32/tasks/endpointfix
entries() { for view in 32 64; do "$WINE64_LOADER" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s /v DisplayVersion "/reg:$view" </dev/null 2>/dev/null; done | tr -d '\r' | awk '/REG_SZ/ { print $3 }' | paste -sd' '; }

store_reg import "$here/store.reg" >/dev/null 2>&1
before=$(store_lines)
expect "install status" "$(msiexec /i "$WINE_TMP/1.0.0.msi")" 0
expect "installed files" "$(ls "$dir" | grep -v task | paste -sd' ')" "$check $fix"
expect "changes made by the install" "$(store_changes "$before" "$(store_lines)")" "$(cat "$here/changes.txt")"
status=0; "$loader" "$dir/$check" </dev/null >/dev/null 2>&1 || status=$?
expect "status of the installed check" "$status" 0
expect "task without STARTUPTASK" "$([ -e "$task" ] && echo present || echo absent)" absent
expect "upgrade status" "$(msiexec /i "$WINE_TMP/1.0.1.msi" STARTUPTASK=1)" 0
expect "versions after the upgrade" "$(entries)" 1.0.1
expect "task with STARTUPTASK=1" "$([ -e "$task" ] && echo present || echo absent)" present
expect "downgrade refused (1603, as Unix keeps it)" "$(msiexec /i "$WINE_TMP/1.0.0.msi")" $((1603 % 256))
expect "versions after the downgrade" "$(entries)" 1.0.1
expect "uninstall status" "$(msiexec /x "$WINE_TMP/1.0.1.msi")" 0
expect "files after uninstall" "$([ -e "$dir" ] && ls -A "$dir" | paste -sd' ' || echo gone)" gone
expect "task after uninstall" "$([ -e "$task" ] && echo present || echo absent)" absent
[ "$fail" -eq 0 ] && echo "package passed: $kind"
exit "$fail"
