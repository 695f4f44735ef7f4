#!/usr/bin/env bash
# Runs every benchmark of a build folder, one after the other, and prints their tables: the
# median of REPETITIONS runs (5 unless set) of each case, so that one noisy run does not decide.
# The repetitions of a benchmark's cases are interleaved in random order, so that a library call
# and its baseline share whatever else the machine is doing; compare CPU times for the cases that
# run in this process alone (the embedded server), wall times where a server process takes part.
set -euo pipefail
build=${1:-build}
repetitions=${REPETITIONS:-5}
for bench in "$build"/bench/*_bench; do
  [ -x "$bench" ] || continue
  echo "== $(basename "$bench")"
  "$bench" --benchmark_min_time=0.2 --benchmark_repetitions="$repetitions" \
    --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true 2>/dev/null | grep -v -E '_(stddev|cv) '
done
echo "== tool_process"
bash "$(dirname "$0")/../bench/tool_process.sh" "$build"
if ls "$build"/python/ostrel/_ostrel_baseline* >/dev/null 2>&1; then
  echo "== python"
  PYTHONPATH="$build/python" python3 "$(dirname "$0")/../bench/python_bench.py"
fi
