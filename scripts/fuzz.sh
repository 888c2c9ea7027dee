#!/usr/bin/env bash
# scripts/fuzz.sh BUILD_DIR SECONDS: builds every libFuzzer target with clang
# and runs each for SECONDS (at most 60), starting from its committed corpus.
set -euo pipefail
dir=$1
seconds=$2
[ "$seconds" -gt 60 ] && seconds=60
rm -rf "$dir"
CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLINEMINT_FUZZ=ON -DLINEMINT_TESTS=OFF -DLINEMINT_BENCH=OFF -DLINEMINT_GUI=OFF >/dev/null
cmake --build "$dir" -j"$(nproc)"
found=0
for list in "$dir"/fuzzers.txt; do
  [ -f "$list" ] || continue
  while IFS='|' read -r name corpus; do
    [ -n "$name" ] || continue
    found=1
    work=$(mktemp -d)
    cp -r "$corpus"/. "$work"/ 2>/dev/null || true
    echo "-- $name for ${seconds}s"
    "$dir/fuzz/$name" \
      -max_total_time="$seconds" -print_final_stats=1 "$work" 2>&1 | tail -n 15
    rm -rf "$work"
  done < "$list"
done
[ "$found" -eq 1 ] || echo "no fuzz targets yet"
