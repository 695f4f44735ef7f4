#!/usr/bin/env bash
# The Windows package as a developer gets it: the zip unpacked into an empty folder, an outside
# CMake project (tests/windows/package/consumer, copied out of the repository) configured with a
# plain mingw-w64 toolchain and CMAKE_PREFIX_PATH naming that folder, built, and run under wine64
# against tarnd.exe from the same zip, which a settings file names; then, from the zip alone,
# tarnd.exe --data keeps a point across a kill, and ostrel.exe demo runs on the embedded server.
#
#   tests/windows/package_test.sh [WINDOWS_BUILD]
#
# WINDOWS_BUILD is the cross build folder holding ostrel-*-windows-x64.zip (make windows-package;
# default build-windows/build). Checks that the
# consumer's configure fails and names Ostrel without the package; that with it Ostrel is found in
# the unpacked folder and nothing of this repository, the build folder or the Windows SDK reaches
# the consumer's build (compile and link lines, dependency lists); and that the program reads back
# what it wrote, what the server kept across its kill, and the demo's steps. Exits non-zero on the first failure, with the log of the step.
set -euo pipefail
cd "$(dirname "$0")/../.."
repo=$PWD
build=$(realpath "${1:-build-windows/build}")
started=$SECONDS
zips=("$build"/ostrel-*-windows-x64.zip)
[ -f "${zips[0]}" ] || { echo "package test: no zip in $build (make windows-package)" >&2; exit 1; }
zip=${zips[-1]}
sdk=$(sed -n 's/^OSTREL_WINDOWS_SDK:PATH=//p' "$build/CMakeCache.txt")

work=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-package.XXXXXX")
server_pid=
finish() {
  local status=$?
  # SIGINT: wine turns it into the console's stop event (SIGTERM ends tarnd.exe at once).
  if [ -n "$server_pid" ]; then kill -INT "$server_pid" 2> /dev/null && wait "$server_pid" 2> /dev/null || true; fi
  [ "$(type -t wine_session_end)" = function ] && wine_session_end
  rm -rf "$work"
  exit "$status"
}
trap finish EXIT
fail() {  # message [log]
  echo "package test: FAILED: $1" >&2
  [ -n "${2:-}" ] && tail -30 "$2" | sed 's/^/    /' >&2
  exit 1
}

unzip -q "$zip" -d "$work/unpacked"
cp -r tests/windows/package/consumer "$work/consumer"
configure() {  # build-folder [cmake args]...
  cmake -S "$work/consumer" -B "$1" -DCMAKE_TOOLCHAIN_FILE="$work/consumer/mingw-w64.cmake" \
        -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_BUILD_TYPE=Release "${@:2}"
}

if configure "$work/without" > "$work/without.log" 2>&1; then
  fail "the consumer configured without the package" "$work/without.log"
fi
grep -q 'provided by "Ostrel"' "$work/without.log" || fail "configuring without the package does not name Ostrel" "$work/without.log"
echo "package: without it the consumer's configure stops: $(grep -m1 -o 'Could not find a package configuration file provided by "Ostrel"' "$work/without.log")"

configure "$work/build" -DCMAKE_PREFIX_PATH="$work/unpacked" > "$work/configure.log" 2>&1 ||
  fail "configuring the consumer" "$work/configure.log"
found=$(sed -n 's/^Ostrel_DIR:PATH=//p' "$work/build/CMakeCache.txt")
[ "$found" = "$work/unpacked/lib/cmake/Ostrel" ] || fail "Ostrel found in $found, not in the unpacked zip"
cmake --build "$work/build" -j 2 > "$work/build.log" 2>&1 || fail "building the consumer" "$work/build.log"
# The dependency lists name every header the compiler opened: a check that finds none checks nothing.
grep -rqF "$work/unpacked/include/ostrel/ostrel.h" "$work/build" || fail "the consumer's build has no dependency list"
# The DLLs copied from the zip name the files of their own build (__FILE__ of assertions).
leaks=$(grep -rlF --exclude='*.dll' -e "$repo" -e "$build" ${sdk:+-e "$sdk"} "$work/build" || true)
[ -z "$leaks" ] || fail "the consumer's build reaches the build machine's trees: $(echo $leaks)"
echo "package: consumer built from $(basename "$zip") alone (Ostrel_DIR in the unpacked folder)"

. scripts/wine_session.sh "${OSTREL_WINEPREFIX:-$build/wineprefix}"
windows_path() { local path=${1//\//\\}; echo "Z:$path"; }
mkdir -p "$work/temp"
export TEMP=$(windows_path "$work/temp") TMP=$(windows_path "$work/temp")
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$work/data"
serve() {  # tarnd.exe from the zip on $port, keeping its data in $work/data
  "$wine" "$work/unpacked/bin/tarnd.exe" --port "$port" --name plant --data "$(windows_path "$work/data")" \
    >> "$work/tarnd.log" 2>&1 &
  server_pid=$!
  for _ in $(seq 300); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2)" 2> /dev/null && return
    kill -0 "$server_pid" 2> /dev/null || fail "the server stopped at start" "$work/tarnd.log"
    sleep 0.1
  done
}
echo "package: server: tarnd.exe from the zip under wine on 127.0.0.1:$port"
serve
printf '<tarn>\n  <server name="plant" position="own" first="127.0.0.1:%s"/>\n</tarn>\n' "$port" > "$work/settings.xml"
export TARN_SETTINGS=$(windows_path "$work/settings.xml")
(cd "$work/build" && timeout 120 "$wine" consumer.exe) > "$work/consumer.log" 2>&1 ||
  fail "the consumer under wine" "$work/consumer.log"
grep '^consumer: ' "$work/consumer.log" | sed 's/^/package: /'

# The zip's tool: a point written, the server killed and started again on its folder, the point read.
ostrel=("$wine" "$work/unpacked/bin/ostrel.exe" --address "127.0.0.1:$port")
"${ostrel[@]}" create kept AnalogPoint value=21.5 > "$work/tool.log" 2>&1 || fail "ostrel.exe create" "$work/tool.log"
kill -KILL "$server_pid"
wait "$server_pid" 2> /dev/null || true
serve
"${ostrel[@]}" get kept --field value > "$work/tool.log" 2>&1 || fail "ostrel.exe get after the kill" "$work/tool.log"
grep -qx '21.5' <(tr -d '\r' < "$work/tool.log") || fail "the point did not survive the kill" "$work/tool.log"
echo "package: tarnd.exe --data kept a point across a kill"
(unset TARN_SETTINGS && timeout 120 "$wine" "$work/unpacked/bin/ostrel.exe" demo) > "$work/demo.log" 2>&1 ||
  fail "ostrel.exe demo" "$work/demo.log"
grep -q 'demo finished: 5 of 5 steps worked' "$work/demo.log" || fail "the demo's steps" "$work/demo.log"
echo "package: ostrel.exe demo on the embedded server: 5 of 5 steps"
echo "package test: passed in $((SECONDS - started)) s"
