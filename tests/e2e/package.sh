#!/usr/bin/env bash
# package.sh KIND PROGRAMS [OTHER]: the Windows Installer package of KIND (x86 or x64), built from
# the programs in PROGRAMS, under Wine's msiexec in a 64-bit prefix seeded with store.reg:
# installed with /qn it puts both programs in place and runs the fix (the store changes as
# changes.txt says and the installed check exits 0); a newer version replaces it in place, an
# older one is refused; uninstall leaves no file; STARTUPTASK=1 registers one start-up task, whose
# XML runs the installed program as SYSTEM at boot, and uninstall removes it. With OTHER, the
# folder of the x86 programs, the x64 package's test first installs the x86 package, then its own,
# which must replace it: one entry, one task, and none after uninstall.
set -euo pipefail
kind=$1 programs=$2 other=${3:-}
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
dir=$WINEPREFIX/drive_c/$folder/endpointfix tasks=$WINEPREFIX/drive_c/windows/system32/tasks
task=$tasks/endpointfix-package
entries() { for view in 32 64; do "$WINE64_LOADER" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s /v DisplayVersion "/reg:$view" </dev/null 2>/dev/null; done | tr -d '\r' | awk '/REG_SZ/ { print $3 }' | paste -sd' '; }

store_reg import "$here/store.reg" >/dev/null 2>&1
before=$(store_lines)
expect "install status" "$(msiexec /i "$WINE_TMP/1.0.0.msi")" 0
expect "installed files" "$(ls "$dir" | grep -v task | LC_ALL=C sort | paste -sd' ')" "LICENSE.txt $check $fix"
expect "changes made by the install" "$(store_changes "$before" "$(store_lines)")" "$(cat "$here/changes.txt")"
status=0; "$loader" "$dir/$check" </dev/null >/dev/null 2>&1 || status=$?
expect "status of the installed check" "$status" 0
expect "task without STARTUPTASK" "$([ -e "$task" ] && echo present || echo absent)" absent
expect "upgrade status" "$(msiexec /i "$WINE_TMP/1.0.1.msi" STARTUPTASK=1)" 0
expect "versions after the upgrade" "$(entries)" 1.0.1
expect "task with STARTUPTASK=1" "$([ -e "$task" ] && echo present || echo absent)" present
expect "tasks registered" "$(ls "$tasks" | paste -sd' ')" endpointfix-package
# Wine's task store keeps no command, trigger or principal of a task given as XML: read the XML
# the package handed to schtasks, with its command expanded as 64-bit Windows expands it.
xml=$dir/endpointfix-task.xml
[ "$kind" = x86 ] && xml=$dir/endpointfix-task-wow64.xml
task_says=$(iconv -f UTF-16 -t UTF-8 "$xml" | tr -d '\r')
command=$(sed -n 's|.*<Command>\(.*\)</Command>.*|\1|p' <<<"$task_says")
command=${command//'%ProgramFiles(x86)%'/'C:\Program Files (x86)'}
command=${command//'%ProgramFiles%'/'C:\Program Files'}
expect "the task's command" "$command" "C:\\$folder\\endpointfix\\$fix"
expect "which names the installed program" "$(cmp "$WINEPREFIX/drive_c/$(tr '\\' / <<<"${command#C:\\}")" "$dir/$fix" && echo same)" same
expect "the task runs as SYSTEM at boot" "$(grep -c -e '<BootTrigger>' -e '<UserId>S-1-5-18</UserId>' <<<"$task_says")" 2
expect "downgrade refused (1603, as Unix keeps it)" "$(msiexec /i "$WINE_TMP/1.0.0.msi")" $((1603 % 256))
expect "versions after the downgrade" "$(entries)" 1.0.1
expect "uninstall status" "$(msiexec /x "$WINE_TMP/1.0.1.msi")" 0
expect "files after uninstall" "$([ -e "$dir" ] && ls -A "$dir" | paste -sd' ' || echo gone)" gone
expect "task after uninstall" "$([ -e "$task" ] && echo present || echo absent)" absent
if [ -n "$other" ]; then
    # The x86 package registers its task with the 32-bit schtasks, which needs 32-bit code run.
    build_msi x86 "$other" 1.0.1 315532800 "$WINE_TMP/x86.msi"
    host_x86_32
    with_task=STARTUPTASK=1
    if [ "$X86_32" != native ]; then
        with_task=STARTUPTASK=0
        echo "the x86 package is installed without its task: this host $(host_x86_32_words)"
    fi
    expect "x86 install status" "$(msiexec /i "$WINE_TMP/x86.msi" $with_task)" 0
    expect "entries with the x86 package" "$(entries)" 1.0.1
    expect "x64 install status over x86" "$(msiexec /i "$WINE_TMP/1.0.1.msi" STARTUPTASK=1)" 0
    expect "entries with both installed in turn" "$(entries)" 1.0.1
    expect "programs left of the x86 package" "$(ls "$WINEPREFIX/drive_c/Program Files (x86)/endpointfix" 2>/dev/null)" ""
    expect "tasks with both installed in turn" "$(ls "$tasks" | paste -sd' ')" endpointfix-package
    expect "uninstall status" "$(msiexec /x "$WINE_TMP/1.0.1.msi")" 0
    expect "entries and tasks after uninstall" "$(entries)$(ls "$tasks")" ""
fi
[ "$fail" -eq 0 ] && echo "package passed: $kind"
exit "$fail"
