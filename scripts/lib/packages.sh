# What the builds need: the native build and its tests (the offline program on libhivex, and
# the independent hive readers and writer its tests check it with); the Windows cross builds, 32- and 64-bit,
# and their release (archive, Windows Installer packages, signing); and their tests, run under Wine (and under QEMU's i386 emulator where
# the host runs no 32-bit x86 code).
NATIVE_PACKAGES=(cmake g++ make libgtest-dev libbenchmark-dev pkg-config libhivex-dev
    libwin-hivex-perl reglookup libregf-utils)
RELEASE_PACKAGES=(cmake make g++ pkg-config libhivex-dev g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64
    binutils-mingw-w64-x86-64 zip unzip wixl msitools faketime osslsigncode openssl)
WINDOWS_PACKAGES=("${RELEASE_PACKAGES[@]}" googletest wine wine32:i386 wine64 qemu-user-static)

# ensure_packages PKG...: installs, as root with apt, whichever of the Debian packages is missing.
# Silent when all are there.
ensure_packages() {
    local missing=() pkg
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
    if printf '%s\n' "${missing[@]}" | grep -q ':i386$' &&
        ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    apt-get update -qq >/dev/null &&
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
}
