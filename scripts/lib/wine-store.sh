# Helpers for runs of endpointfix.exe against the endpoint store of a throwaway Wine prefix.
# Source it, then: wine_prefix_up ARCH (win32|win64), store_reg ARGS..., store_lines [VIEW],
# wine_prefix_down.

AUDIO_KEY='HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\MMDevices\Audio'

# Boots a fresh prefix of the given architecture under a new temporary folder, behind a lingering
# server whose output goes to /dev/null (Wine's helpers otherwise hold on to the caller's output).
wine_prefix_up() {
    WINE_ARCH=$1
    WINE_TMP=$(mktemp -d)
    export WINEPREFIX=$WINE_TMP/prefix WINEARCH=$1 WINEDEBUG=-all
    mkdir -p "$WINEPREFIX"
    wineserver -p </dev/null >/dev/null 2>&1
    wineboot -i </dev/null >/dev/null 2>&1
}

wine_prefix_down() {
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINE_TMP"
}

# Runs reg.exe in the prefix's native view (the 64-bit one in a 64-bit prefix).
store_reg() {
    if [ "$WINE_ARCH" = win64 ]; then
        /usr/lib/wine/wine64 reg "$@" /reg:64
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
        /usr/lib/wine/wine64 reg export "$AUDIO_KEY" "$file" /y "/reg:$1"
    else
        store_reg export "$AUDIO_KEY" "$file" /y
    fi </dev/null >/dev/null 2>&1 || return 0
    iconv -f UTF-16 -t UTF-8 "$file" | tr -d '\r' | awk -v root="$AUDIO_KEY" '
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
