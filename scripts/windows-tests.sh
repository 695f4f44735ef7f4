#!/usr/bin/env bash
# Runs the Windows test programs under wine64 against Linux tarnd processes on 127.0.0.1.
#
#   scripts/windows-tests.sh [WINDOWS_BUILD] [TARND]
#
# WINDOWS_BUILD is the cross build folder (default build-windows/build), whose windows-tests.txt
# lists the programs ("label program [gtest filter]"); TARND the Linux server (default
# build/tarn/tarnd). The tests start and stop their own tarnd processes through
# scripts/tarnd_launcher.py; the DLL client test talks to one tarnd that this script starts and
# names as server "plant" in TARN_SETTINGS. Wine runs headless in its own prefix, made on first
# use. Prints one line per program and "N passed, N failed" at the end; exits non-zero when a
# program failed. Each program's output is kept in WINDOWS_BUILD/windows-test-logs/;
# OSTREL_WINDOWS_TESTS (a regular expression) picks programs by name. Last comes the SDK zip's
# test, named "package" (tests/windows/package_test.sh; the zip comes from make windows-package).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

build=$(realpath "${1:-build-windows/build}")
tarnd=$(realpath "${2:-build/tarn/tarnd}")
bin=$build/bin
per_program=${OSTREL_WINDOWS_TEST_TIMEOUT:-600}
. scripts/wine_session.sh "${OSTREL_WINEPREFIX:-$build/wineprefix}"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-wine.XXXXXX")
launcher_pid=
plant_pid=
finish() {
  [ -n "$plant_pid" ] && kill "$plant_pid" 2> /dev/null && wait "$plant_pid" 2> /dev/null
  [ -n "$launcher_pid" ] && kill "$launcher_pid" 2> /dev/null && wait "$launcher_pid" 2> /dev/null
  wine_session_end
  rm -rf "$scratch"
}
trap finish EXIT

python3 scripts/tarnd_launcher.py "$tarnd" "$WINEPREFIX" > "$scratch/launcher.port" &
launcher_pid=$!
for _ in $(seq 50); do [ -s "$scratch/launcher.port" ] && break; sleep 0.1; done
export OSTREL_TARND_LAUNCHER="127.0.0.1:$(cat "$scratch/launcher.port")"

plant_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
"$tarnd" --port "$plant_port" --name plant > /dev/null &
plant_pid=$!
printf '<tarn>\n  <server name="plant" position="own" first="127.0.0.1:%s"/>\n</tarn>\n' "$plant_port" \
  > "$scratch/settings.xml"
# Windows paths for the Windows side: Z: is the Unix root.
export TARN_SETTINGS="Z:${scratch//\//\\}\\settings.xml"
mkdir -p "$scratch/temp"
export TEMP="Z:${scratch//\//\\}\\temp" TMP="Z:${scratch//\//\\}\\temp"

logs=$build/windows-test-logs
rm -rf "$logs"
mkdir -p "$logs"
passed=0
failed=0
failures=()
started=$SECONDS
cd "$bin"
while read -r label program filter; do
  [ -z "$program" ] && continue
  args=()
  [ -n "${filter:-}" ] && args+=("--gtest_filter=$filter")
  [ -n "${OSTREL_WINDOWS_TESTS:-}" ] && ! [[ $program =~ $OSTREL_WINDOWS_TESTS ]] && continue
  log=$logs/${program%.exe}.log
  t0=$SECONDS
  if timeout "$per_program" "$wine" "$program" "${args[@]}" > "$log" 2>&1; then result=ok; else result=FAILED; fi
  # A crash that wine's debugger reports may still end with status 0.
  grep -q '^wine: Unhandled' "$log" && result=FAILED
  # Tests, not programs, are counted; a program that failed without a count (a crash) is one.
  good=$(grep -oE '^\[  PASSED  \] [0-9]+' "$log" | grep -oE '[0-9]+$' || true)
  bad=$(grep -oE '^ *[0-9]+ FAILED TESTS?' "$log" | grep -oE '[0-9]+' || true)
  skipped=$(grep -oE '^\[  SKIPPED \] [0-9]+' "$log" | grep -oE '[0-9]+$' || true)
  [ "$result" = FAILED ] && [ -z "$bad" ] && bad=1
  passed=$((passed + ${good:-0}))
  failed=$((failed + ${bad:-0}))
  [ "$result" = FAILED ] && failures+=("$program")
  printf '%-12s %-42s %-7s %3s passed %3s failed %s%ss\n' "$label" "$program" "$result" "${good:-0}" \
    "${bad:-0}" "${skipped:+($skipped skipped) }" "$((SECONDS - t0))"
  if [ "$result" = FAILED ]; then
    grep -E 'Failure|FAILED|Unhandled|wine' "$log" | head -20 | sed 's/^/    /' || true  # the run goes on
  fi
done < "$build/windows-tests.txt"

# ostrel.exe: one command against "plant", as a person types it (its own tests run on Linux).
t0=$SECONDS
if timeout "$per_program" "$wine" ostrel.exe record Alarm code=7 > "$logs/ostrel.log" 2>&1 &&
   grep -qE '^code +signed_int +7' "$logs/ostrel.log"; then
  result=ok; passed=$((passed + 1)); good=1; bad=0
else
  result=FAILED; failed=$((failed + 1)); failures+=(ostrel.exe); good=0; bad=1
fi
printf '%-12s %-42s %-7s %3s passed %3s failed %ss\n' tool "ostrel.exe record Alarm" "$result" "$good" "$bad" \
  "$((SECONDS - t0))"

# The SDK zip (make windows-package) as a developer uses it: an outside project built from it alone.
if [ -z "${OSTREL_WINDOWS_TESTS:-}" ] || [[ package =~ $OSTREL_WINDOWS_TESTS ]]; then
  t0=$SECONDS
  if bash "$root/tests/windows/package_test.sh" "$build" "$tarnd" > "$logs/package.log" 2>&1; then
    result=ok; passed=$((passed + 1)); good=1; bad=0
  else
    result=FAILED; failed=$((failed + 1)); failures+=(package); good=0; bad=1
  fi
  printf '%-12s %-42s %-7s %3s passed %3s failed %ss\n' package "package_test.sh (the SDK zip)" "$result" "$good" \
    "$bad" "$((SECONDS - t0))"
  grep -E '^package: server|FAILED' "$logs/package.log" | head -20 | sed 's/^/    /' || true
fi

echo "windows-tests: $((SECONDS - started)) s under wine"
[ ${#failures[@]} -gt 0 ] && echo "windows-tests: failed: ${failures[*]}"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ ${#failures[@]} -eq 0 ]
