#!/usr/bin/env bash
# links.sh: every relative link in README.md and docs/*.md names a file that exists and, after a
# '#', a heading in it, as the anchor GitHub makes of it (lower case, punctuation dropped, spaces
# as hyphens). Links with a scheme (https:, mailto:) and code blocks are not looked at.
set -uo pipefail
cd "$(dirname "$0")/.."
fail=0
anchors() { sed -nE 's/^#{1,6} +//p' "$1" | tr 'A-Z' 'a-z' | sed -E 's/[^a-z0-9 _-]//g; s/ /-/g'; }
for page in README.md docs/*.md; do
    while IFS= read -r link; do
        target=${link%%#*} anchor=""
        [[ $link == *#* ]] && anchor=${link#*#}
        file=$(dirname "$page")/$target
        [ -n "$target" ] || file=$page
        if [ ! -e "$file" ]; then
            echo "FAIL $page: $link: no file $file" && fail=1
        elif [ -n "$anchor" ] && ! anchors "$file" | grep -qxF -- "$anchor"; then
            echo "FAIL $page: $link: no heading #$anchor in $file" && fail=1
        fi
    done < <(grep -v '^    ' "$page" | grep -oE '\]\([^)]+\)' | sed -E 's/^\]\((.*)\)$/\1/' | grep -vE '^[a-z]+:')
done
[ "$fail" -eq 0 ] && echo "every link in README.md and docs/ resolves"
exit "$fail"
