#!/usr/bin/env bash
# run.sh: builds the fuzz target of the log replay (tests/fuzz/replay_fuzz.cc) with clang's
# libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer into build/fuzz, makes its seeds
# there with tests/make_dirty_hive (every kind, from hives made by scripts/lib/hive.sh), and runs it
# for ENDPOINTFIX_FUZZ_SECONDS seconds (60). Fails on a crash, a leak, a hang or a failed build;
# what crashed is left in build/fuzz/crash-*.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${ENDPOINTFIX_FUZZ_SECONDS:-60}
out=build/fuzz
cxx=${ENDPOINTFIX_FUZZ_CXX:-clang++-14}
replay=(registry/format/base_block.cc registry/format/log_replay.cc registry/format/log_replay_new.cc
    registry/format/log_replay_old.cc registry/format/log_entry.cc registry/format/replayer.cc
    registry/format/marvin32.cc)
mkdir -p "$out"
rm -rf "$out/seeds" "$out/states" && mkdir "$out/seeds" "$out/states"

"$cxx" -std=c++20 -O1 -g -I. -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    tests/fuzz/replay_fuzz.cc "${replay[@]}" -o "$out/replay_fuzz"
"$cxx" -std=c++20 -O1 -I. tests/make_dirty_hive.cc "${replay[@]}" -o "$out/make_dirty_hive"
"$cxx" -std=c++20 -O1 -I. tests/make_empty_hive.cc -o "$out/make_empty_hive"

# Three states: empty, then filled with one store, then with another too.
. scripts/lib/hive.sh
s=$out/states
"$out/make_empty_hive" "$s/0"
hive_from_reg "$out/make_empty_hive" tests/e2e/store.reg "$s/1" >/dev/null
{ cat tests/e2e/store.reg; tail -n +2 examples/store.reg; } >"$s/both.reg"
hive_from_reg "$out/make_empty_hive" "$s/both.reg" "$s/2" >/dev/null

# A seed: a byte of options (0), the primary's length and LOG1's, then the three files.
le32() { printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24)))"; }
for kind in split swapped one damaged badhash stale old oldstamp olddamaged; do
    "$out/make_dirty_hive" "$kind" "$s/hive" "$s/0" "$s/1" "$s/2"
    { printf '\0'; le32 "$(stat -c %s "$s/hive")"; le32 "$(stat -c %s "$s/hive.LOG1")"
      cat "$s/hive" "$s/hive.LOG1" "$s/hive.LOG2"; } >"$out/seeds/$kind"
done

mkdir -p "$out/corpus"
status=0
"$out/replay_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$out/" "$out/corpus" "$out/seeds" >"$out/fuzz.log" 2>&1 || status=$?
grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::average_exec_per_sec|==[0-9]+==ERROR|SUMMARY)' "$out/fuzz.log" || true
[ "$status" -eq 0 ] || echo "FAIL fuzz: the replay's fuzz target failed (status $status); see $out/fuzz.log" >&2
exit "$status"
