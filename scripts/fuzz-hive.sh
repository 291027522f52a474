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
# A small hive of our own making as a seed too, so that the fuzzer starts
# past the base block even where the real hives are not there.
if [ -x "$ORVIK_ROOT/build/orvik" ]; then
  (
    export ORVIK_REGISTRY="$WORK/registry"
    orvik="$ORVIK_ROOT/build/orvik"
    "$orvik" ADD 'HKCU\Software\Seed\A' /v Text /d "some text" /f
    "$orvik" ADD 'HKCU\Software\Seed\A' /v Count /t REG_DWORD /d 7 /f
    "$orvik" ADD 'HKCU\Software\Seed\B' /v List /t REG_MULTI_SZ /d "a\0b" /f
    "$orvik" ADD 'HKCU\Software\Seed\B\C' /v Bytes /t REG_BINARY /d 00ff10 /f
    "$orvik" SAVE 'HKCU\Software\Seed' "$WORK/seeds/small.hiv"
  ) >/dev/null || echo "No seed hive of our own: orvik failed"
fi
echo "Fuzzing the hive reader for ${SECONDS_TO_RUN}s with $(ls "$WORK/seeds" | wc -l) seed hives"
"$BUILD/orvik-hive-fuzz" -max_total_time="$SECONDS_TO_RUN" -max_len=12582912 -timeout=20 \
  -rss_limit_mb=4096 -print_final_stats=1 "$WORK/corpus" "$WORK/seeds"
