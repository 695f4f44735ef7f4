#!/usr/bin/env bash
# Runs the cost curves of a build folder (bench/scale_curves: each case at sizes spanning three
# orders of magnitude, beside the raw call of the same size) and writes, in OUT (the build
# folder's bench-scale/ unless set): scale.json (the benchmark's own output), scale.csv (every
# point with its curve's log-log slope) and scale.svg (the plot), and prints the curves.
# Each case runs REPETITIONS times (3 unless set), interleaved at random so that a call and its
# baseline share whatever else the machine does; the curves use the medians. A run takes about
# five minutes on two cores; FILTER narrows it to some benchmarks.
set -euo pipefail
build=${1:-build}
out=${OUT:-$build/bench-scale}
here=$(dirname "$0")
mkdir -p "$out"
# 256 client processes, each with its connection and its threads in tarnd.
ulimit -n 65536 2>/dev/null || true
"$build/bench/scale_curves" --benchmark_filter="${FILTER:-.}" --benchmark_min_time=0.3 \
  --benchmark_repetitions="${REPETITIONS:-3}" --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true --benchmark_out="$out/scale.json" --benchmark_out_format=json \
  2>/dev/null | grep -E '^BM_.*_median'
python3 "$here/scale_plot.py" "$out/scale.json" "$out/scale.csv" "$out/scale.svg"
echo "written: $out/scale.json $out/scale.csv $out/scale.svg"
