#!/usr/bin/env bash
# The ostrel tool as a whole process against tarnd on loopback: `ostrel get` of one point beside
# `ostrel ping -n 1`, each run N times (default 20); prints the mean wall time of each in ms.
set -euo pipefail
build=${1:-build}
runs=${2:-20}
port=$((20000 + RANDOM % 20000))
folder=$(mktemp -d)
trap 'kill "$tarnd" 2>/dev/null; rm -rf "$folder"' EXIT
"$build"/tarn/tarnd --port "$port" --name plant > /dev/null &
tarnd=$!
printf '<tarn><server name="plant" position="own" first="127.0.0.1:%s"/></tarn>\n' "$port" > "$folder/settings.xml"
export TARN_SETTINGS="$folder/settings.xml"
tool="$build/tools/ostrel/ostrel"
for _ in $(seq 50); do "$tool" ping -n 1 > /dev/null 2>&1 && break; sleep 0.1; done
"$tool" create bench.point AnalogPoint value=1 > /dev/null

mean_ms() {
  local start end
  start=$(date +%s%N)
  for _ in $(seq "$runs"); do "$@" > /dev/null; done
  end=$(date +%s%N)
  echo $(( (end - start) / runs / 1000000 ))
}
echo "ostrel ping -n 1:        $(mean_ms "$tool" ping -n 1) ms"
echo "ostrel get bench.point:  $(mean_ms "$tool" get bench.point) ms"
