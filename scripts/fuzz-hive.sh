#!/usr/bin/env bash
# Fuzzes the hive reader for a bounded time (seconds, default 60), with the
# real hives as seeds when they are there. Builds build-fuzz with Clang.
set -euo pipefail
ORVIK_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
SECONDS_TO_RUN=${1:-60}
BUILD="$ORVIK_ROOT/build-fuzz"
CC=clang CXX=clang++ cmake -S "$ORVIK_ROOT" -B "$BUILD" -DORVIK_FUZZ=ON -DORVIK_BUILD_TESTS=OFF \
  -DORVIK_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" --target orvik-hive-fuzz -j "$(nproc)"

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
echo "Fuzzing the hive reader for ${SECONDS_TO_RUN}s with $(ls "$WORK/seeds" | wc -l) seed hives"
"$BUILD/orvik-hive-fuzz" -max_total_time="$SECONDS_TO_RUN" -max_len=12582912 -timeout=20 \
  -rss_limit_mb=4096 -print_final_stats=1 "$WORK/corpus" "$WORK/seeds"
