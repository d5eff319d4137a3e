# What the builds need: the native build and its tests (the offline program on libhivex, and
# the independent hive readers and writer its tests check it with; its disk-image helper on
# libguestfs, and for its test guestfish, the kernel supermin builds libguestfs' appliance
# from, ntfs-3g and attr in that appliance, and qemu-img for a qcow2 image; clang and its
# libFuzzer for the log replay's fuzz target; for the tests of the hive's security, NTFS and
# ext4 volumes, ACLs and extended attributes; FUSE through Python, for the view whose reads
# fail that stands for a failing disk; the WIM helper on wimlib and libntfs-3g, and for its test
# wimlib's own tool); the Windows cross builds, 32- and 64-bit, and their
# release (archive, Windows Installer packages, signing); and their tests, run under Wine (and
# under QEMU's i386 emulator where the host runs no 32-bit x86 code).
NATIVE_PACKAGES=(cmake g++ make libgtest-dev libbenchmark-dev pkg-config libhivex-dev
    libwin-hivex-perl reglookup libregf-utils gawk mawk jq
    libguestfs-dev libguestfs-tools linux-image-amd64 clang-14 libclang-rt-14-dev
    ntfs-3g e2fsprogs acl attr util-linux python3-fusepy libfuse2 qemu-utils libssl-dev
    libwim-dev wimtools ntfs-3g-dev)
RELEASE_PACKAGES=(cmake make g++ pkg-config libhivex-dev libssl-dev libguestfs-dev libwim-dev ntfs-3g-dev g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64
    binutils-mingw-w64-x86-64 zip unzip wixl msitools faketime osslsigncode openssl
    lintian man-db groff-base)
# Python 3 picks the versions 32-bit Wine installs at where the i386 index is out of step.
WINDOWS_PACKAGES=("${RELEASE_PACKAGES[@]}" googletest python3 wine wine32:i386 wine64 qemu-user-static)

# ensure_packages PKG...: installs, as root with apt, whichever of the Debian packages is missing.
# Silent when all are there. A package mirror out of step is common and passes by itself, so a
# failed index update is only a warning, and where the install fails with i386 packages among
# those asked for (their versions must match the amd64 ones, whose updates come from the index
# most often out of step) the others are installed without them, and the i386 ones tried once
# more with each shared library at a version both architectures' lists hold (apt_install_matched).
# Only the 32-bit Wine runs need them, and those are skipped without them (WINE32_MISSING then
# holds apt's reason). Set-up fails only when the other packages cannot be installed. Nothing
# else on the machine is changed: no pins, preferences or sources, and nothing removed.
ensure_packages() {
    local missing=() native=() pkg err
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q '^install ok installed' ||
            missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing packages: ${missing[*]} (run as root to install them)" >&2
        return 1
    fi
    echo "installing ${missing[*]}" >&2
    for pkg in "${missing[@]}"; do [[ $pkg == *:i386 ]] || native+=("$pkg"); done
    if [ ${#native[@]} -lt ${#missing[@]} ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    err=$(apt-get update -qq 2>&1 >/dev/null) ||
        echo "apt-get update failed, going on with the package lists there are: $(apt_first_error "$err")" >&2
    err=$(apt_install "${missing[@]}") && return 0
    if [ ${#native[@]} -lt ${#missing[@]} ]; then
        local why
        why=$(apt_first_error "$err")
        if [ ${#native[@]} -eq 0 ] || err=$(apt_install "${native[@]}"); then
            local foreign=() matched
            for pkg in "${missing[@]}"; do [[ $pkg == *:i386 ]] && foreign+=("$pkg"); done
            matched=$(apt_install_matched "$*" "${foreign[@]}") && return 0
            export WINE32_MISSING="$why; with matched library versions: $matched"
            echo "32-bit Wine could not be installed (apt: $WINE32_MISSING); its tests will be skipped" >&2
            return 0
        fi
    fi
    echo "set-up failed: apt could not install ${native[*]:-${missing[*]}}: $(apt_first_error "$err")" >&2
    return 1
}

# apt_install_matched "ASKED..." PKG...: installs PKG... with every Multi-Arch: same library in
# their and ASKED's dependencies at one version for all its architectures, and the installed
# packages that ask for an exact version of one at the version that goes with it
# (matched_versions.py reads apt's lists). Only version arguments on this one call; it runs only
# if apt, asked first to simulate it, would remove nothing, and would take no installed package
# back to an older version unless ENDPOINTFIX_ALLOW_DOWNGRADE=1 (older versions may bring back
# fixed vulnerabilities: for throwaway machines, as CI's). Says in one line what moved; on
# failure prints why.
apt_install_matched() {
    local asked=$1 pins sim removed down out
    shift
    # shellcheck disable=SC2016,SC2086 # a format of apt's; ASKED is a list of package names
    pins=$(apt-get indextargets --format '$(FILENAME)' 'Created-By: Packages' |
        xargs -r /usr/lib/apt/apt-helper cat-file |
        python3 "$(dirname "${BASH_SOURCE[0]}")/matched_versions.py" "$(dpkg --print-architecture)" $asked "$@") ||
        pins=
    [ -n "$pins" ] || { echo "no versions to match in apt's lists"; return 1; }
    # shellcheck disable=SC2086 # one NAME:ARCH=VERSION a line
    set -- "$@" $pins
    sim=$(LC_ALL=C apt-get -s install "$@" 2>&1) || { apt_first_error "$sim"; return 1; }
    removed=$(printf '%s\n' "$sim" | awk '$1 == "Remv" { print $2 }' | xargs)
    [ -z "$removed" ] || { echo "apt would remove $removed"; return 1; }
    down=$(apt_downgraded "$sim")
    if [ -n "$down" ] && [ "${ENDPOINTFIX_ALLOW_DOWNGRADE:-}" != 1 ]; then
        echo "apt would take installed packages back to older versions ($down); ENDPOINTFIX_ALLOW_DOWNGRADE=1 allows it"
        return 1
    fi
    echo "32-bit Wine: installing with matched library versions: $(apt_moves "$sim")" >&2
    out=$(apt_install --allow-downgrades "$@") || { apt_first_error "$out"; return 1; }
}

# apt_moves TEXT: apt's counts of what an install moves, from its simulation, with the packages
# downgraded by name.
apt_moves() {
    local counts down
    counts=$(printf '%s\n' "$1" | grep -m1 -E '^[0-9]+ upgraded, ' | sed -E 's/, [0-9]+ to remove.*//')
    down=$(apt_downgraded "$1")
    printf '%s%s' "${counts:-no counts}" "${down:+ ($down)}"
}

# apt_downgraded TEXT: the packages apt's simulation takes back to older versions, on one line.
apt_downgraded() {
    printf '%s\n' "$1" | awk '/^The following packages will be DOWNGRADED:/ { on = 1; next }
        on && /^ / { print; next } { on = 0 }' | xargs
}

# apt_install PKG...: installs quietly; on failure prints apt's messages and fails.
apt_install() {
    local out
    out=$(DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$@" 2>&1 >/dev/null) && return 0
    printf '%s\n' "$out"
    return 1
}

# apt_first_error TEXT: the first line of apt's output that names an error (else the first line).
apt_first_error() {
    local line
    line=$(printf '%s\n' "$1" | grep -m1 -E '^(E|Err):' || printf '%s\n' "$1" | head -n1)
    printf '%s' "${line:-no message}"
}
