#!/usr/bin/env bash
# make package: the Debian package of a build folder (cpack) and the Python wheel built against
# exactly what that package installs. Both go to BUILD/package/.
#   scripts/package.sh BUILD
# The wheel's module has no run path of its own: it loads libostrel from the system's library
# path, where the package puts it, so it is for hosts that have the package installed.
set -euo pipefail
build=$(cd "${1:?usage: package.sh BUILD}" && pwd)
source_dir=$(cd "$(dirname "$0")/.." && pwd)
out=$build/package
mkdir -p "$out"
rm -f "$out"/*.deb "$out"/*.whl

(cd "$build" && cpack -G DEB --config CPackConfig.cmake > "$out/cpack.log") || {
  cat "$out/cpack.log" >&2
  exit 1
}
deb=$(ls "$out"/*.deb)

# The package's files as they land under /, for the wheel to build against.
stage=$out/stage
rm -rf "$stage"
dpkg-deb -x "$deb" "$stage"
python3 -m pip wheel -q --no-deps --no-build-isolation --no-index \
  --config-settings "prefix=$stage/usr" --config-settings rpath= \
  -w "$out" "$source_dir/python"
rm -rf "$stage"
echo "package: $deb"
echo "package: $(ls "$out"/*.whl)"
