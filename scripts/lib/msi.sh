# Builds the Windows Installer packages from packaging/endpointfix.wxs with wixl (msitools).
# Source it, then: build_msi KIND PROGRAMS VERSION EPOCH OUT. KIND is x86 (endpointfix.exe and
# endpointfix-check.exe) or x64 (endpointfix64.exe and endpointfix-check64.exe); PROGRAMS is the
# folder that holds them; the licence is installed beside them, as LICENSE.txt. The package's
# bytes depend on its inputs alone: its codes are derived from the kind and the version, and the
# times in it (the summary's and the cabinet's) are EPOCH.

MSI_PACKAGING=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../packaging" && pwd)

# Kept for ever: Windows Installer knows a product across its versions by these.
MSI_UPGRADE_CODE_x86=D694F259-56C8-430F-B5C3-0CA595CD68A5
MSI_UPGRADE_CODE_x64=043855C5-E00A-42E3-8A83-29727F88CCBF
# The one component's code, which stays the same while its files keep their names.
MSI_COMPONENT_CODE_x86=0A3C1D4E-DB98-484C-858A-3D1DA5F08BE7
MSI_COMPONENT_CODE_x64=818FE82F-E53F-4C86-840C-6B3DBFA32314

# The public properties the installer service is handed even where a user without rights starts
# the install (wixl writes the first two; it has no way to mark STARTUPTASK so).
MSI_SECURE_PROPERTIES="WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED;OTHER_KIND_FOUND;STARTUPTASK"

# name_uuid NAME: a UUID made from the SHA-1 of NAME (version 5 layout), the same for the same
# name: the product and package codes are new for every version and kind, and fixed for each.
name_uuid() {
    local h
    h=$(printf 'endpointfix %s' "$1" | sha1sum | cut -c1-32)
    printf '%s-%s-5%s-%x%s-%s\n' "${h:0:8}" "${h:8:4}" "${h:13:3}" $(((0x${h:16:1} & 3) | 8)) \
        "${h:17:3}" "${h:20:12}" | tr a-f A-F
}

# task_xml COMMAND OUT: the start-up task's XML, in UTF-16 as the Task Scheduler writes it, with
# COMMAND as it stands (no backslash or ampersand in it is read as anything but itself).
task_xml() {
    local template
    template=$(<"$MSI_PACKAGING/task.xml.in")
    printf '%s\n' "${template//@COMMAND@/"$1"}" | sed 's/$/\r/' | iconv -f UTF-8 -t UTF-16 >"$2"
}

build_msi() {
    local kind=$1 programs=$2 version=$3 epoch=$4 out=$5 fix check folder arch template upgrade component other
    case $kind in
        x86) fix=endpointfix.exe check=endpointfix-check.exe folder=ProgramFilesFolder arch=x86
             template="Intel;1033" ;;
        x64) fix=endpointfix64.exe check=endpointfix-check64.exe folder=ProgramFiles64Folder arch=x64
             template="x64;1033" ;;
    esac
    upgrade=MSI_UPGRADE_CODE_$kind component=MSI_COMPONENT_CODE_$kind other=MSI_UPGRADE_CODE_x64
    [ "$kind" = x64 ] && other=MSI_UPGRADE_CODE_x86
    local stage
    stage=$(mktemp -d)
    cp "$programs/$fix" "$programs/$check" "$stage/"
    cp "$MSI_PACKAGING/../LICENSE" "$stage/LICENSE.txt"
    # On 64-bit Windows the x86 package's folder is the 32-bit one.
    task_xml "%ProgramFiles%\\endpointfix\\$fix" "$stage/endpointfix-task.xml"
    task_xml "%ProgramFiles(x86)%\\endpointfix\\$fix" "$stage/endpointfix-task-wow64.xml"
    touch -d "@$epoch" "$stage"/*
    local when
    when=$(TZ=UTC date -d "@$epoch" '+%Y-%m-%d %H:%M:%S')
    rm -f "$out"
    # wixl takes the files' paths relative to the folder it runs in.
    out=$(realpath -m "$out")
    (cd "$stage" && TZ=UTC faketime -f "$when" wixl -a "$arch" -o "$out" \
        -D Kind="$kind" -D Version="$version" -D Fix="$fix" -D Check="$check" \
        -D ProgramFiles="$folder" -D Win64="$([ "$kind" = x64 ] && echo yes || echo no)" \
        -D ProductCode="$(name_uuid "$kind $version product")" -D UpgradeCode="${!upgrade}" \
        -D OtherUpgradeCode="${!other}" \
        -D ComponentCode="${!component}" "$MSI_PACKAGING/endpointfix.wxs") &&
        TZ=UTC faketime -f "$when" msibuild "$out" \
            -q "UPDATE \`Property\` SET \`Value\` = '$MSI_SECURE_PROPERTIES' WHERE \`Property\` = 'SecureCustomProperties'" &&
        TZ=UTC faketime -f "$when" msibuild "$out" -s "endpointfix $version ($kind)" endpointfix \
            "$template" "{$(name_uuid "$kind $version package")}"
    local status=$?
    rm -rf "$stage"
    return "$status"
}
