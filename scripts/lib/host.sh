# How this host executes 32-bit x86 programs, which the 32-bit Windows program needs under Wine.
# Source it, then call host_x86_32: it decides once and exports the answer in X86_32:
#   native    the kernel executes them;
#   emulated  QEMU's user-mode i386 emulator does, through binfmt_misc: registered here, as root,
#             where the kernel cannot and binfmt_misc is available;
#   none      nothing does, or ENDPOINTFIX_NO_X86_32=1 says to behave as if nothing did (it also
#             keeps the emulator from being registered), or 32-bit Wine is not installed (set-up
#             goes on without it where the package mirror cannot supply it).

BINFMT=/proc/sys/fs/binfmt_misc
WINE32_LOADER=/usr/lib/wine/wine

host_x86_32() {
    [ -n "${X86_32:-}" ] && return 0
    local status=0
    X86_32_WHY=
    if [ -n "${ENDPOINTFIX_NO_X86_32:-}" ]; then
        X86_32=none
    elif [ ! -e "$WINE32_LOADER" ]; then
        X86_32=none X86_32_WHY="32-bit Wine is not installed"
    elif grep -qx enabled "$BINFMT/qemu-i386" 2>/dev/null; then
        X86_32=emulated
    else
        "$WINE32_LOADER" --version >/dev/null 2>&1 || status=$?
        if [ "$status" -eq 0 ]; then
            X86_32=native
        elif [ "$status" -eq 126 ] && register_qemu_i386; then
            X86_32=emulated
        else
            X86_32=none
        fi
    fi
    # Without a reserved address space the emulated Wine cannot map its shared user data.
    [ "$X86_32" = emulated ] && export QEMU_RESERVED_VA=0xf7000000
    export X86_32 X86_32_WHY
}

# Registers the emulator for 32-bit x86 ELF programs (status 126 above: the kernel refused the
# 32-bit loader's format). F opens the emulator now, so it serves inside any mount namespace; P
# hands it the program's own argv[0].
register_qemu_i386() {
    [ "$(id -u)" -eq 0 ] && [ -x /usr/bin/qemu-i386-static ] || return 1
    [ -e "$BINFMT/register" ] || mount -t binfmt_misc binfmt_misc "$BINFMT" 2>/dev/null || return 1
    echo "This host cannot execute 32-bit x86 code: registering QEMU's i386 emulator with" \
        "binfmt_misc (ENDPOINTFIX_NO_X86_32=1 prevents it)." >&2
    local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    echo ":qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386-static:FP" >"$BINFMT/register" || return 1
    QEMU_RESERVED_VA=0xf7000000 "$WINE32_LOADER" --version >/dev/null 2>&1
}

# The answer in words, for people.
host_x86_32_words() {
    case $X86_32 in
        native) echo "runs 32-bit x86 code natively" ;;
        emulated) echo "runs 32-bit x86 code only under QEMU's i386 emulator" ;;
        none) if [ -n "${X86_32_WHY:-}" ]; then echo "cannot run 32-bit Windows programs: $X86_32_WHY"; else
            echo "cannot run 32-bit x86 code${ENDPOINTFIX_NO_X86_32:+ (forced by ENDPOINTFIX_NO_X86_32)}"; fi ;;
    esac
}
