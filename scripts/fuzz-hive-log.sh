#!/usr/bin/env bash
# Fuzzes the reader of hive logs and the replay of a dirty hive for a bounded
# time (seconds, default 60). Each input is two logs and a primary file (two
# 32-bit lengths, the logs, the primary); the dirty hives of the shared test
# data are the seeds when they are there, with a few of our own making.
# Builds build-fuzz with Clang.
set -euo pipefail
ORVIK_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$ORVIK_ROOT/scripts/lib.sh"
SECONDS_TO_RUN=${1:-60}
BUILD="$ORVIK_ROOT/build-fuzz"
build_fuzz_target orvik-hive-log-fuzz

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/corpus" "$WORK/seeds" "$WORK/sets"

# A 32-bit little-endian number as 4 bytes.
le32() {
  printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $((($1 >> 8) & 255)))"
  printf "\\x$(printf %02x $((($1 >> 16) & 255)))\\x$(printf %02x $((($1 >> 24) & 255)))"
}
# seed NAME PRIMARY LOG1 LOG2: one input of the logs (either may be "") and the primary.
seed() {
  local size1=0 size2=0
  [ -n "$3" ] && size1=$(stat -c %s "$3")
  [ -n "$4" ] && size2=$(stat -c %s "$4")
  {
    le32 "$size1"
    le32 "$size2"
    [ -n "$3" ] && cat "$3"
    [ -n "$4" ] && cat "$4"
    cat "$2"
  } >"$WORK/seeds/$1"
}

for hives in "${ORVIK_REAL_HIVES:-}" "$ORVIK_ROOT/../shared/hives" "$ORVIK_ROOT/../../shared/hives"; do
  if [ -n "$hives" ] && [ -d "$hives/dirty" ]; then
    for set in OldDirtyHive NewDirtyHive1 BadBaseBlockHive BadLogHive3 UsrClass; do
      mkdir -p "$WORK/sets/$set"
      for packed in "$hives/dirty/$set"/*.xz; do
        xz -dc "$packed" >"$WORK/sets/$set/$(basename "$packed" .xz)"
      done
    done
    s="$WORK/sets"
    seed old "$s/OldDirtyHive/OldDirtyHive" "$s/OldDirtyHive/OldDirtyHive.LOG1" ""
    seed new "$s/NewDirtyHive1/NewDirtyHive" "$s/NewDirtyHive1/NewDirtyHive.LOG1" \
      "$s/NewDirtyHive1/NewDirtyHive.LOG2"
    seed new-reversed "$s/NewDirtyHive1/NewDirtyHive" "$s/NewDirtyHive1/NewDirtyHive.LOG2" \
      "$s/NewDirtyHive1/NewDirtyHive.LOG1"
    seed bad-base "$s/BadBaseBlockHive/BadBaseBlockHive" "$s/BadBaseBlockHive/BadBaseBlockHive.LOG1" ""
    seed bad-log "$s/BadLogHive3/BadLogHive" "$s/BadLogHive3/BadLogHive.LOG1" \
      "$s/BadLogHive3/BadLogHive.LOG2"
    seed classes "$s/UsrClass/UsrClass.dat" "$s/UsrClass/UsrClass.dat.LOG1" \
      "$s/UsrClass/UsrClass.dat.LOG2"
    break
  fi
done
# Without the shared data: a small hive of our own as the primary, with its
# own bytes as logs, so that the fuzzer starts from a hive's base block.
if save_seed_hive "$WORK/registry" "$WORK/small.hiv"; then
  seed small "$WORK/small.hiv" "$WORK/small.hiv" ""
else
  echo "No seed hive of our own"
fi
echo "Fuzzing the log reader for ${SECONDS_TO_RUN}s with $(ls "$WORK/seeds" | wc -l) seeds"
"$BUILD/orvik-hive-log-fuzz" -max_total_time="$SECONDS_TO_RUN" -max_len=6291456 -timeout=20 \
  -rss_limit_mb=4096 -print_final_stats=1 "$WORK/corpus" "$WORK/seeds"
