#!/usr/bin/env bash
# Fetches the chart library of `ostrel web`'s trend (uPlot, MIT) from the npm registry into
# tools/ostrel/web/vendor/, where the build embeds it into the program beside the page. The
# version and the tarball's sha512 are pinned here; a tarball that does not match is refused.
# Safe to run again: with the files present it does nothing. Without npm or without the
# registry it says so and succeeds: the build then leaves the library out and the page draws
# its trend with its own small canvas plot (one scale, no zoom). Run cmake again after a fetch.
set -euo pipefail

version=1.6.32
integrity="sha512-KIMVnG68zvu5XXUbC4LQEPnhwOxBuLyW1AHtpm6IKTXImkbLgkMy+jabjLgSLMasNuGGzQm/ep3tOkyTxpiQIw=="
files=(dist/uPlot.iife.min.js dist/uPlot.min.css LICENSE)

root="$(cd "$(dirname "$0")/.." && pwd)"
vendor="$root/tools/ostrel/web/vendor"
stamp="$vendor/uplot-$version.stamp"
[ -f "$stamp" ] && exit 0

if ! command -v npm >/dev/null; then
  echo "fetch-web-deps: npm is not installed; ostrel web's trend uses its plain plot" >&2
  exit 0
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
if ! (cd "$work" && timeout 120 npm pack --silent "uplot@$version" >/dev/null 2>"$work/npm.log"); then
  echo "fetch-web-deps: uplot@$version could not be fetched ($(tail -n 1 "$work/npm.log")); ostrel web's trend uses its plain plot" >&2
  exit 0
fi
tarball="$work/uplot-$version.tgz"
# node comes with npm: no other tool is needed for the check.
got="sha512-$(node -e 'process.stdout.write(require("crypto").createHash("sha512").update(require("fs").readFileSync(process.argv[1])).digest("base64"))' "$tarball")"
if [ "$got" != "$integrity" ]; then
  echo "fetch-web-deps: uplot-$version.tgz has $got, not the pinned $integrity: refused" >&2
  exit 1
fi
tar -xzf "$tarball" -C "$work" "${files[@]/#/package/}"
mkdir -p "$vendor"
rm -f "$vendor"/uplot-*.stamp
cp "$work/package/dist/uPlot.iife.min.js" "$work/package/dist/uPlot.min.css" "$vendor/"
cp "$work/package/LICENSE" "$vendor/uPlot.LICENSE"
touch "$stamp"
echo "fetch-web-deps: uplot $version in tools/ostrel/web/vendor/"
