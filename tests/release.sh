#!/usr/bin/env bash
# release.sh: the release made twice, here and from a copy of the sources at another path, later:
# the zip and the packages must be the same byte for byte, their sums must check, the
# programs in the zip must be those the presets built, and the Debian packages must install
# programs that run; lintian has nothing to say of them, both manual pages render without
# warnings, and the licence is in the zip, the MSIs and the Debian packages. Then a release from the copy signed with
# a throwaway certificate: its four programs and both packages must carry signatures that verify.
# Prints "ok: WHAT" or "FAIL: WHAT" for each check.
set -uo pipefail
cd "$(dirname "$0")/.."
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 315532800)}
say() { [ "$1" -eq 0 ] && echo "ok: $2" || echo "FAIL: $2"; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/src" "$tmp/unpacked" "$tmp/signed"
tar --exclude=./build --exclude=./.git -cf - . | tar -xf - -C "$tmp/src"
scripts/release >/dev/null
sleep 1
"$tmp/src/scripts/release" >/dev/null
here=build/release there=$tmp/src/build/release
for file in $(cd "$here" && ls ./*.zip ./*.msi ./*.deb); do
    cmp -s "$here/$file" "$there/$file"; say $? "${file#./} from two places is the same"
done
(cd "$there" && sha256sum --quiet -c SHA256SUMS); say $? "the release's SHA256SUMS"
unzip -q "$there"/*.zip -d "$tmp/unpacked"
(cd "$tmp/unpacked" && sha256sum --quiet -c SHA256SUMS); say $? "the zip's SHA256SUMS"
for program in win32/endpointfix.exe win32/endpointfix-check.exe win64/endpointfix64.exe win64/endpointfix-check64.exe; do
    cmp -s "build/$program" "$tmp/unpacked/${program#*/}"; say $? "${program#*/} is the one built here"
done
for deb in "$here"/*.deb; do
    [ -z "$(lintian --tag-display-limit 0 --allow-root "$deb" 2>&1)" ]; say $? "lintian on $(basename "$deb") says nothing"
    dpkg-deb --fsys-tarfile "$deb" | tar -xOf - "./usr/share/doc/$(dpkg-deb -f "$deb" Package)/copyright" >"$tmp/copyright"
    [ -z "$(sed '1,/^Copyright/d; /^$/d; s/^/ /' LICENSE | grep -vxF -f "$tmp/copyright")" ]; say $? "the licence in $(basename "$deb")"
done
for page in packaging/man/*.1; do
    [ -z "$(man --warnings -l "$page" 2>&1 >/dev/null)" ]; say $? "$(basename "$page") renders without warnings"
done
cmp -s LICENSE "$tmp/unpacked/LICENSE.txt"; say $? "the licence in the zip"
for msi in "$here"/*.msi; do
    mkdir "$tmp/${msi##*/}" && msiextract -C "$tmp/${msi##*/}" "$msi" >/dev/null &&
        cmp -s LICENSE "$(find "$tmp/${msi##*/}" -name LICENSE.txt)"; say $? "the licence in ${msi##*/}"
done
# The Debian package installs, and the program it installs runs: its help, and the report on a
# SOFTWARE hive without an endpoint store. (As root only: dpkg installs into this system, and
# removes the package afterwards.)
if [ "$(id -u)" = 0 ]; then
    dpkg -i "$here"/endpointfix-offline_*.deb >/dev/null 2>&1; say $? "dpkg -i of the Debian package"
    printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion]\n' >"$tmp/bare.reg"
    (. scripts/lib/hive.sh && hive_from_reg build/native/tests/make_empty_hive "$tmp/bare.reg" "$tmp/SOFTWARE") &&
        [ "$(/usr/bin/endpointfix-offline --help | head -c 26)$(/usr/bin/endpointfix-offline "$tmp/SOFTWARE")" = \
            "usage: endpointfix-offlineendpointfix-offline: no endpoint store here, nothing to change" ]
    say $? "the installed endpointfix-offline runs"
    [ "$(man -w endpointfix-offline)" = /usr/share/man/man1/endpointfix-offline.1.gz ]; say $? "man endpointfix-offline finds its page"
    # --image: without its package, the one to install is named; with it, the helper in
    # /usr/libexec answers (here, for an image that is not there).
    [ "$(/usr/bin/endpointfix-offline --image "$tmp/none.img" 2>&1; echo "status $?")" = \
        "endpointfix-offline: --image needs the program endpointfix-offline-image: No such file or directory; install the package endpointfix-offline-image, which brings libguestfs
status 2" ]
    say $? "--image without its package names it"
    dpkg -i "$here"/endpointfix-offline-image_*.deb >/dev/null 2>&1; say $? "dpkg -i of the --image package"
    [ "$(/usr/bin/endpointfix-offline --image "$tmp/none.img" 2>&1; echo "status $?")" = \
        "endpointfix-offline: $tmp/none.img: cannot open: No such file or directory
status 2" ]
    say $? "the installed --image helper runs"
    # A WIM: its own helper, from its own package, which answers for a WIM cut short.
    dpkg -i "$here"/endpointfix-offline-wim_*.deb >/dev/null 2>&1; say $? "dpkg -i of the WIM package"
    printf 'MSWIM\0\0\0' >"$tmp/cut.wim"
    /usr/bin/endpointfix-offline --image "$tmp/cut.wim" >/dev/null 2>"$tmp/wim.err"
    [ "$? $(grep -c "^endpointfix-offline: $tmp/cut.wim: cannot be read as a WIM: " "$tmp/wim.err")" = "2 1" ]
    say $? "the installed WIM helper runs"
    dpkg -r endpointfix-offline-wim endpointfix-offline-image endpointfix-offline >/dev/null 2>&1; say $? "dpkg -r of the Debian packages"
fi
# A certificate valid from before the last commit, which stands for the signing time.
(cd "$tmp" && faketime '2000-01-01 00:00:00' openssl req -x509 -newkey rsa:2048 -nodes -days 36500 \
    -subj "/CN=endpointfix test" -addext extendedKeyUsage=codeSigning -keyout key.pem -out cert.pem &&
    openssl pkcs12 -export -in cert.pem -inkey key.pem -out cert.pfx -passout pass:test-only) >/dev/null 2>&1
ENDPOINTFIX_SIGN_PFX=$tmp/cert.pfx ENDPOINTFIX_SIGN_PASSWORD=test-only "$tmp/src/scripts/release" >/dev/null
unzip -q "$there"/*.zip -d "$tmp/signed"
for file in "$tmp/signed"/*.exe "$there"/*.msi; do
    osslsigncode verify -CAfile "$tmp/cert.pem" -in "$file" >/dev/null 2>&1; say $? "signature of $(basename "$file")"
done
