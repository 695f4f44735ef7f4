#!/usr/bin/env bash
# Line and branch coverage of the tests (clang source-based): builds an instrumented copy in
# build-coverage, runs every test there (each process, tarnd and the tool included, writes its own
# profile), merges the profiles and prints one summary per area: the library (ostrel/), the
# middleware stand-in (tarn/) and the tool (tools/ostrel/). The full per-file table is kept in
# build-coverage/coverage.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-coverage
jobs=${JOBS:-$(nproc)}
cov=$(command -v llvm-cov-14 || command -v llvm-cov)
profdata=$(command -v llvm-profdata-14 || command -v llvm-profdata)
CC=clang CXX=clang++ cmake -S . -B "$build" -DOSTREL_COVERAGE=ON -DOSTREL_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug > /dev/null
cmake --build "$build" -j "$jobs"
rm -rf "$build/profiles" && mkdir -p "$build/profiles"
# Tests that build and install their own copy (the installed-library checks) are not counted.
(cd "$build" && LLVM_PROFILE_FILE="$PWD/profiles/%p-%m.profraw" ctest -j "$jobs" -LE "install|package" --output-on-failure) || true
"$profdata" merge -sparse "$build"/profiles/*.profraw -o "$build/coverage.profdata"
# Every instrumented program and library: the tests link the library's objects themselves.
mapfile -t binaries < <(find "$build" -path "$build/CMakeFiles" -prune -o -type f \( -perm -u+x -o -name '*.so*' \) \
                          -print | while read -r f; do [ "$(head -c 4 "$f" | tail -c 3)" = ELF ] && echo "$f"; done)
objects=("${binaries[0]}")
for binary in "${binaries[@]:1}"; do objects+=(-object "$binary"); done
exclude='(/usr/|/build-coverage/|/tests/|/bench/|/fuzz/|/examples/)'
# A function compiled into several programs with different inlining is reported as "mismatched";
# its counts from the first program are kept. Those warnings go to coverage-warnings.txt.
report() { "$cov" report "${objects[@]}" -instr-profile="$build/coverage.profdata" -ignore-filename-regex="$exclude" "$@" 2>> "$build/coverage-warnings.txt"; }
report > "$build/coverage.txt"
for area in ostrel tarn tools/ostrel; do
  report "$PWD/$area" | tail -1 | awk -v area="$area/" '{ printf "%-14s lines %s, branches %s\n", area, $10, $13 }'
done
