# Helpers for runs of Windows programs against the registry of a throwaway Wine prefix.
# Source it, then: wine_prefix_up ARCH [LOADER], "$WINE" PROGRAM..., store_reg ARGS...,
# store_lines [VIEW], wine_prefix_down. ARCH is win32 or win64; LOADER starts the programs:
# wine (the launcher, for 32-bit programs; the default) or /usr/lib/wine/wine64.

AUDIO_KEY='HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\MMDevices\Audio'
WINE64_LOADER=/usr/lib/wine/wine64
. "$(dirname "${BASH_SOURCE[0]}")/host.sh"
# Booted prefixes, one an architecture, that every throwaway prefix is copied from.
WINE_PREFIXES=${WINE_PREFIXES:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/build/wine}

# wine_require LOADER [COST]: ends the calling script with status 77, which the tests report as
# skipped, where LOADER is the launcher (32-bit programs) and the host runs no 32-bit x86 code,
# or runs it only under emulation and the caller names a COST too high for that.
wine_require() {
    host_x86_32
    [ "$1" = wine ] || return 0
    local why=
    if [ -n "${X86_32_WHY:-}" ]; then
        why=$X86_32_WHY
    elif [ "$X86_32" = none ]; then
        why="this host $(host_x86_32_words)"
    elif [ "$X86_32" = emulated ] && [ -n "${2:-}" ]; then
        why="this host $(host_x86_32_words), and $2"
    fi
    [ -z "$why" ] && return 0
    echo "skipped: $why"
    exit 77
}

# Sets PRESET, TRIPLE, PROGRAM, CHECK, LOADER and ARCH for a run of the program (and of its
# check) in the kind of prefix this host serves best: endpointfix.exe in a 32-bit prefix where the
# host runs 32-bit code natively, otherwise endpointfix64.exe in a 64-bit one (under emulation a
# 32-bit run takes up to a minute).
wine_pick_program() {
    host_x86_32
    if [ "$X86_32" = native ]; then
        PRESET=win32 TRIPLE=i686-w64-mingw32 PROGRAM=endpointfix.exe CHECK=endpointfix-check.exe
        LOADER=wine ARCH=win32
    else
        PRESET=win64 TRIPLE=x86_64-w64-mingw32 PROGRAM=endpointfix64.exe
        CHECK=endpointfix-check64.exe LOADER=$WINE64_LOADER ARCH=win64
    fi
}

# Makes DEST a copy of the booted prefix of ARCH, booting that once (the boot takes minutes under
# emulation). A win64 prefix is booted by the 64-bit loader and gains the 32-bit parts only where
# the host runs 32-bit code. The copy links the files the programs only read, and copies the
# registry, which the server replaces whole when it saves it (a copy to another file system
# copies everything).
wine_prefix_copy() {
    local arch=$1 dest=$2 booted=$WINE_PREFIXES/$1 boot=wine
    [ "$arch" = win64 ] && boot=$WINE64_LOADER
    mkdir -p "$WINE_PREFIXES"
    rm -rf "$dest"
    (
        flock 9
        if [ ! -f "$booted/system.reg" ]; then
            rm -rf "$booted.new" && mkdir -p "$booted.new"
            export WINEPREFIX=$booted.new WINEARCH=$arch WINEDEBUG=-all
            # The launcher may give up waiting on a slow (emulated) boot that goes on without
            # it; the boot is over when its server ends.
            "$boot" wineboot -i </dev/null >/dev/null 2>&1 || true
            if ! timeout 900 wineserver -w; then
                wineserver -k
                echo "the $arch prefix did not finish booting within 15 minutes" >&2
                exit 1
            fi
            mv "$booted.new" "$booted"
        fi
    ) 9>"$booted.lock"
    cp -al "$booted" "$dest" 2>/dev/null || { rm -rf "$dest" && cp -a "$booted" "$dest"; }
    cp --remove-destination "$booted"/*.reg "$dest/"
}

# Makes a fresh prefix of ARCH under a new temporary folder, behind a lingering server whose
# output goes to /dev/null (Wine's helpers otherwise hold on to the caller's output).
wine_prefix_up() {
    WINE_ARCH=$1 WINE=${2:-wine}
    wine_require "$WINE"
    WINE_TMP=$(mktemp -d)
    wine_prefix_copy "$WINE_ARCH" "$WINE_TMP/prefix"
    export WINEPREFIX=$WINE_TMP/prefix WINEDEBUG=-all
    wineserver -p </dev/null >/dev/null 2>&1
}

wine_prefix_down() {
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINE_TMP"
}

# Runs reg.exe in the prefix's native view (the 64-bit one in a 64-bit prefix).
store_reg() {
    if [ "$WINE_ARCH" = win64 ]; then
        "$WINE64_LOADER" reg "$@" /reg:64
    else
        wine reg "$@"
    fi </dev/null
}

# Prints the endpoint store as sorted lines "[KEY] VALUE", KEY relative to the Audio key; a line
# "[KEY]" for every key. With VIEW (32 or 64) exports that registry view. Prints nothing when the
# store is absent.
store_lines() {
    local file=$WINE_TMP/export.reg
    rm -f "$file"
    if [ -n "${1:-}" ]; then
        "$WINE64_LOADER" reg export "$AUDIO_KEY" "$file" /y "/reg:$1"
    else
        store_reg export "$AUDIO_KEY" "$file" /y
    fi </dev/null >/dev/null 2>&1 || return 0
    iconv -f UTF-16 -t UTF-8 "$file" | reg_lines "$AUDIO_KEY"
}

# Reads a .reg file and prints its keys below ROOT and their values as store_lines does. ROOT
# reaches awk through its environment: awk -v would take its backslashes for escapes.
reg_lines() {
    tr -d '\r' | REG_ROOT=$1 awk '
        BEGIN { root = ENVIRON["REG_ROOT"] }
        /^\[/ {
            key = substr($0, 2, length($0) - 2)
            key = (key == root) ? "" : substr(key, length(root) + 2)
            print "[" key "]"
            next
        }
        /^("|@)/ {
            line = $0
            while (line ~ /\\$/ && (getline more) > 0) {
                sub(/\\$/, "", line)
                sub(/^ +/, "", more)
                line = line more
            }
            print "[" key "] " line
        }' | LC_ALL=C sort
}

# Lines of BEFORE missing from AFTER as "- LINE", lines new in AFTER as "+ LINE", in key order.
store_changes() {
    {
        LC_ALL=C comm -23 <(printf '%s\n' "$1") <(printf '%s\n' "$2") | sed 's/^/- /'
        LC_ALL=C comm -13 <(printf '%s\n' "$1") <(printf '%s\n' "$2") | sed 's/^/+ /'
    } | sed -E 's/^(. )(\[[^]]*\]( "[^"]*")?)(.*)$/\2\t\1\2\4/' | LC_ALL=C sort -s -t$'\t' -k1,1 | cut -f2-
}

# The check's report on stdin as a line an endpoint, "FLOW KEY: STATE...", a value's state ok,
# blocked, damaged or CHANGED (pending, or made); json_states prints the same from its --json
# document.
report_states() {
    awk -v changed="$1" '/^(capture|render) / { if (e) print e; e = $1 " " substr($2, 1, length($2) - 1) ":" }
        /^    / { e = e (/ -> blocked: / ? " blocked" : / -> / ? " " changed : /: cannot be changed$/ ? " damaged" : " ok") } END { if (e) print e }'
}
json_states() { jq -r '.endpoints[] | "\(.flow) \(.key):" + ([.values[] | " " + .state] | add // "")'; }
