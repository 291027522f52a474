#!/usr/bin/env bash
# Fuzzes the hive reader for a bounded time (seconds, default 60), with the
# real hives as seeds when they are there. Builds build-fuzz with Clang.
set -euo pipefail
ORVIK_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$ORVIK_ROOT/scripts/lib.sh"
SECONDS_TO_RUN=${1:-60}
BUILD="$ORVIK_ROOT/build-fuzz"
build_fuzz_target orvik-hive-fuzz

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/corpus" "$WORK/seeds"
for hives in "${ORVIK_REAL_HIVES:-}" "$ORVIK_ROOT/../shared/hives" "$ORVIK_ROOT/../../shared/hives"; do
  if [ -n "$hives" ] && [ -d "$hives" ]; then
    for packed in "$hives"/*.xz; do
      xz -dc "$packed" >"$WORK/seeds/$(basename "$packed" .xz)"
    done
    break
  fi
done
# A small hive of our own making as a seed too, so that the fuzzer starts
# past the base block even where the real hives are not there.
save_seed_hive "$WORK/registry" "$WORK/seeds/small.hiv" || echo "No seed hive of our own"
echo "Fuzzing the hive reader for ${SECONDS_TO_RUN}s with $(ls "$WORK/seeds" | wc -l) seed hives"
"$BUILD/orvik-hive-fuzz" -max_total_time="$SECONDS_TO_RUN" -max_len=12582912 -timeout=20 \
  -rss_limit_mb=4096 -print_final_stats=1 "$WORK/corpus" "$WORK/seeds"
