# Hive files for the offline program's tests, demo and benchmark. Source it, then:
# hive_from_reg MAKER REG OUT: writes OUT, a SOFTWARE hive holding what the .reg file REG (keys
# below HKEY_LOCAL_MACHINE\SOFTWARE) holds: an empty hive from MAKER (make_empty_hive), merged
# with hivexregedit, which wants each key's parent before it, and a blank line before each key:
# every missing ancestor is listed first. String data is handed to it as the bytes Windows
# stores, UTF-16LE with a terminating zero (as hex(1)): it would take UTF-8 text's bytes for
# characters of their own.
hive_from_reg() {
    local maker=$1 reg=$2 out=$3 merged
    merged=$(mktemp)
    "$maker" "$out" &&
        awk '/^\[HKEY_LOCAL_MACHINE\\SOFTWARE\\/ {
                n = split(substr($0, 2, length($0) - 2), level, "\\")
                path = level[1] "\\" level[2]
                for (i = 3; i <= n; i++) {
                    if (!(path in seen)) { seen[path] = 1; print "\n[" path "]" }
                    path = path "\\" level[i]
                }
                seen[path] = 1
            }
            /^\[/ { print "" }
            { print }' "$reg" | perl -MEncode -pe 's/^(\@|"(?:[^"\\]|\\.)*")="((?:[^"\\]|\\.)*)"(\r?)$/
                "$1=hex(1):" . join(",", map { sprintf "%02x", $_ }
                    unpack "C*", encode("UTF-16LE", decode("UTF-8", $2 =~ s|\\(.)|$1|gr) . "\0")) . $3/e' >"$merged" &&
        hivexregedit --merge --prefix 'HKEY_LOCAL_MACHINE\SOFTWARE' "$out" "$merged"
    local status=$?
    rm -f "$merged"
    return "$status"
}
