#!/usr/bin/env bash
# Runs the Windows programs under wine64 on 127.0.0.1, in four directions:
#   - the Windows test programs (windows-tests.txt: "label program [gtest filter]") against Linux
#     tarnd processes, which they start and stop through scripts/tarnd_launcher.py, and the
#     server's own tests in-process (journal, damage, folder lock, full disk, budgets);
#   - the DLL client test and ostrel.exe against tarnd.exe (server "plant", with a data folder);
#   - ostrel.exe demo on the embedded server of the Windows library;
#   - the Linux library and tool against tarnd.exe: the Linux data folder, snapshot and point
#     tests with OSTREL_TARND (tests/support/tarn_fixture.h), from the Linux build of TARND;
# and last the SDK zip's test, "package" (tests/windows/package_test.sh, make windows-package).
#
#   scripts/windows-tests.sh [WINDOWS_BUILD] [TARND]
#
# WINDOWS_BUILD is the cross build folder (default build-windows/build); TARND the Linux server
# (default build/tarn/tarnd), whose build folder holds the Linux tests. Wine runs headless in its
# own prefix, made on first use. Prints one line per program and "N passed, N failed" at the end;
# exits non-zero when a program failed. Each program's output is kept in
# WINDOWS_BUILD/windows-test-logs/; OSTREL_WINDOWS_TESTS (a regular expression) picks programs by
# name; OSTREL_WINDOWS_JOBS says how many run at once (twice the cores).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

build=$(realpath "${1:-build-windows/build}")
tarnd=$(realpath "${2:-build/tarn/tarnd}")
linux_build=$(dirname "$(dirname "$tarnd")")
bin=$build/bin
per_program=${OSTREL_WINDOWS_TEST_TIMEOUT:-600}
. scripts/wine_session.sh "${OSTREL_WINEPREFIX:-$build/wineprefix}"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-wine.XXXXXX")
launcher_pid=
plant_pid=
finish() {
  # SIGINT: wine turns it into the console's stop event (SIGTERM would end tarnd.exe at once).
  [ -n "$plant_pid" ] && kill -INT "$plant_pid" 2> /dev/null && wait "$plant_pid" 2> /dev/null
  [ -n "$launcher_pid" ] && kill "$launcher_pid" 2> /dev/null && wait "$launcher_pid" 2> /dev/null
  wine_session_end
  rm -rf "$scratch"
}
trap finish EXIT
# Windows paths for the Windows side: Z: is the Unix root.
windows_path() { local path=$1; echo "Z:${path//\//\\}"; }

python3 scripts/tarnd_launcher.py "$tarnd" "$WINEPREFIX" > "$scratch/launcher.port" &
launcher_pid=$!
for _ in $(seq 50); do [ -s "$scratch/launcher.port" ] && break; sleep 0.1; done
export OSTREL_TARND_LAUNCHER="127.0.0.1:$(cat "$scratch/launcher.port")"

plant_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$scratch/plant"
"$wine" "$bin/tarnd.exe" --port "$plant_port" --name plant --data "$(windows_path "$scratch/plant")" \
  > "$scratch/plant.log" 2>&1 &
plant_pid=$!
printf '<tarn>\n  <server name="plant" position="own" first="127.0.0.1:%s"/>\n</tarn>\n' "$plant_port" \
  > "$scratch/settings.xml"
export TARN_SETTINGS=$(windows_path "$scratch/settings.xml")
mkdir -p "$scratch/temp"
export TEMP=$(windows_path "$scratch/temp") TMP=$(windows_path "$scratch/temp")
for _ in $(seq 100); do grep -q ready "$scratch/plant.log" && break; sleep 0.1; done

logs=$build/windows-test-logs
rm -rf "$logs"
mkdir -p "$logs"
started=$SECONDS
results=$scratch/results
mkdir -p "$results"
# Programs run side by side, as many at once as make test runs tests (they wait on servers
# mostly); each one's line is printed in the order it was started.
jobs_max=${OSTREL_WINDOWS_JOBS:-$((2 * $(nproc)))}
started_jobs=0
test_jobs=()

picked() { [ -z "${OSTREL_WINDOWS_TESTS:-}" ] || [[ $1 =~ $OSTREL_WINDOWS_TESTS ]]; }

# Runs one program (LABEL NAME LOG COMMAND...) and counts its tests: a Google Test program's
# from its output, any other program as one test that its status judges (and, with `expect` set,
# that its output has that text). Prints its line, then "= GOOD BAD NAME-IF-FAILED".
run() {
  local label=$1 name=$2 log=$3
  shift 3
  local t0=$SECONDS result=ok
  timeout "$per_program" "$@" > "$log" 2>&1 || result=FAILED
  # A crash that wine's debugger reports may still end with status 0.
  grep -q '^wine: Unhandled' "$log" && result=FAILED
  [ -n "${expect:-}" ] && ! grep -qE "$expect" "$log" && result=FAILED
  local good bad skipped
  good=$(grep -oE '^\[  PASSED  \] [0-9]+' "$log" | grep -oE '[0-9]+$' || true)
  bad=$(grep -oE '^ *[0-9]+ FAILED TESTS?' "$log" | grep -oE '[0-9]+' || true)
  skipped=$(grep -oE '^\[  SKIPPED \] [0-9]+' "$log" | grep -oE '[0-9]+$' || true)
  if ! grep -q '^\[==========\]' "$log"; then good=$([ $result = ok ] && echo 1 || echo 0); fi
  [ "$result" = FAILED ] && [ -z "$bad" ] && bad=1
  printf '%-12s %-42s %-7s %3s passed %3s failed %s%ss\n' "$label" "$name" "$result" "${good:-0}" \
    "${bad:-0}" "${skipped:+($skipped skipped) }" "$((SECONDS - t0))"
  if [ "$result" = FAILED ]; then
    grep -E 'Failure|FAILED|Unhandled|wine|^ostrel|^package' "$log" | head -20 | sed 's/^/    /' || true
  fi
  echo "= ${good:-0} ${bad:-0} $([ "$result" = FAILED ] && echo "$name" | tr ' ' '_')"
}

# run() in the background, when a slot is free (the servers this script started hold none).
start() {
  while [ "$(jobs -rp | wc -l)" -ge $((jobs_max + 2)) ]; do wait -n "${test_jobs[@]}" 2> /dev/null || true; done
  started_jobs=$((started_jobs + 1))
  run "$@" > "$results/$(printf %03d "$started_jobs")" &
  test_jobs+=($!)
}

cd "$bin"
while read -r label program filter; do
  [ -z "$program" ] && continue
  picked "$program" || continue
  args=()
  [ -n "${filter:-}" ] && args+=("--gtest_filter=$filter")
  start "$label" "$program" "$logs/${program%.exe}.log" "$wine" "$program" "${args[@]}"
done < "$build/windows-tests.txt"

# ostrel.exe as a person types it: one command against tarnd.exe, and the demo on the embedded
# server (no settings file: the library's own server in the process).
if picked ostrel; then
  expect='^code +signed_int +7' start tool "ostrel.exe record Alarm (tarnd.exe)" "$logs/ostrel-record.log" \
    "$wine" ostrel.exe record Alarm code=7
  expect='demo finished: 5 of 5 steps worked' start tool "ostrel.exe demo (embedded server)" "$logs/ostrel-demo.log" \
    env -u TARN_SETTINGS "$wine" ostrel.exe demo
fi

# The Linux library and tool against tarnd.exe under wine.
for program in integration_data_folder_test integration_snapshots_test integration_datapoints_test; do
  picked "$program" || continue
  start linux "$program (tarnd.exe)" "$logs/linux-$program.log" \
    env -u TARN_SETTINGS -u TEMP -u TMP OSTREL_TARND="$wine $bin/tarnd.exe" "$linux_build/tests/$program"
done

# The SDK zip (make windows-package) as a developer uses it: an outside project built from it alone.
if picked package; then
  start package "package_test.sh (the SDK zip)" "$logs/package.log" bash "$root/tests/windows/package_test.sh" "$build"
fi
wait "${test_jobs[@]}" 2> /dev/null || true

passed=0
failed=0
failures=()
for result in "$results"/*; do
  [ -e "$result" ] || continue
  grep -v '^= ' "$result" || true
  read -r _ good bad name < <(grep '^= ' "$result")
  passed=$((passed + good))
  failed=$((failed + bad))
  [ -n "${name:-}" ] && failures+=("$name")
done
echo "windows-tests: $((SECONDS - started)) s under wine, $jobs_max programs at once"
[ ${#failures[@]} -gt 0 ] && echo "windows-tests: failed: ${failures[*]}"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ ${#failures[@]} -eq 0 ]
