#!/usr/bin/env bash
# What a conversion costs, against the floor of what any conversion must do. Run on demand:
#   bash bench/run.sh [RUNS]
# Builds a Release program in build-bench/, makes 1000 banks of random bytes in a temporary
# folder, and prints: the median time and peak memory of one run, side by side with the floor;
# a batch of 1000 conversions, side by side with the floor; the heap allocations of one run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-2000}
build=$root/build-bench
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DFMB2FXB_TESTS=OFF -DFMB2FXB_BENCH=ON >/dev/null
cmake --build "$build" -j2 >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
python3 -c '
import os
for i in range(1000):
    with open("b%04d.fmb" % i, "wb") as f:
        f.write(os.urandom(6152))'

echo "== one conversion, median of $runs runs each, listing to /dev/null"
"$build/measure" "$runs" "$build/fmb2fxb" "$build/floor" b0000.fmb

batch() {
  local start end
  start=$(date +%s%N)
  for f in b*.fmb; do "$1" "$f" >/dev/null; done
  end=$(date +%s%N)
  awk -v ns=$((end - start)) -v name="$2" \
    'BEGIN { printf "%-10s 1000 conversions in %6.3f s   %7.0f per second\n", name, ns / 1e9, 1000 / (ns / 1e9) }'
}
echo "== a batch of 1000 conversions (a shell loop)"
batch "$build/fmb2fxb" fmb2fxb
batch "$build/floor" floor
batch "$build/fmb2fxb" fmb2fxb
batch "$build/floor" floor

echo "== heap allocations of one run (valgrind)"
valgrind --xtree-memory=full --xtree-memory-file=xtree.kcg "$build/fmb2fxb" b0000.fmb \
  2>&1 >/dev/null | grep 'total heap usage' | sed 's/^==[0-9]*== *//'
python3 "$root/bench/heap_by_file.py" xtree.kcg "$root/"
