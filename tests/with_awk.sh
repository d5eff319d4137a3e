#!/usr/bin/env bash
# with_awk.sh AWK COMMAND...: runs COMMAND with AWK (gawk or mawk) as the awk on PATH, so that
# the scripts are seen to work with either: they differ in how they read escapes.
set -euo pipefail
bin=$(mktemp -d) && trap 'rm -rf "$bin"' EXIT
ln -s "$(command -v "$1")" "$bin/awk"
shift
PATH=$bin:$PATH "$@"
