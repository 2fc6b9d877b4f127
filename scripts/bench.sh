#!/usr/bin/env bash
# Runs the benchmarks: vantor against the standard uuid module (bench/bench.py) and bulk
# generation against the alternatives (bench/bench_bulk.py), whose results go to bench/results/,
# then the C++ micro-benchmarks of the core, appended to bench/results/cpp.txt.
# `bash scripts/bench.sh --quick` shortens all three; other arguments go to the Python scripts.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

RESULTS="$ROOT/bench/results"
# fastuuid is timed beside vantor where it has the operation; it is never a dependency of vantor.
"$VENV_PYTHON" -m pip install -q --disable-pip-version-check matplotlib pyarrow fastuuid
"$VENV_PYTHON" "$ROOT/bench/bench.py" --out "$RESULTS" "$@"
"$VENV_PYTHON" "$ROOT/bench/bench_bulk.py" --out "$RESULTS" "$@"

# Google Benchmark 1.7 takes the minimum time as plain seconds (the "0.2s" form came in 1.8).
MIN_TIME=0.2
for arg in "$@"; do
  if [ "$arg" = "--quick" ]; then MIN_TIME=0.05; fi
done

[ -f /usr/include/benchmark/benchmark.h ] || apt_install libbenchmark-dev
cmake -S "$ROOT" -B "$ROOT/build/bench" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DVANTOR_BUILD_MODULE=OFF -DVANTOR_BUILD_BENCH=ON >/dev/null
cmake --build "$ROOT/build/bench"

mkdir -p "$RESULTS"
{
  echo "==== $(date -u +%Y-%m-%dT%H:%M:%SZ) $(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || true)"
  # The library prints its context (CPU, caches, load) on stderr: keep it beside the figures.
  "$ROOT/build/bench/vantor_core_bench" --benchmark_min_time="$MIN_TIME" 2>&1
  echo
} | tee -a "$RESULTS/cpp.txt"
