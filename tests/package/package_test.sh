#!/usr/bin/env bash
# The Debian package and the Python wheel (make package) as a user of a fresh Debian host meets
# them: a new root of the same Debian release as this host, made with mmdebstrap from Debian's
# mirror, gets the package through apt (its dependencies from the mirror), and in_root.sh uses
# it there. The root's tarball and apt's downloaded packages are kept in BUILD/package-test, so a
# second run neither makes the root again nor downloads anything; a tarball older than a week is
# made again (the mirror moves on).
#   package_test.sh SOURCE BUILD
# Skipped (77) without root or without the packages; needs mmdebstrap (install-deps.sh --package).
set -euo pipefail
source_dir=$1
build=$(cd "$2" && pwd)
out=$build/package
cache=$build/package-test

if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: the package test makes a root and enters it, which needs root"
  exit 77
fi
debs=("$out"/ostrel_*.deb) wheels=("$out"/ostrel-*.whl)
if [ ! -f "${debs[0]}" ] || [ ! -f "${wheels[0]}" ]; then
  echo "skipped: no .deb and wheel in $out (make package, or make package-test, makes them)"
  exit 77
fi
command -v mmdebstrap >/dev/null || { echo "mmdebstrap is missing: scripts/install-deps.sh --package"; exit 1; }

. /etc/os-release
suite=$VERSION_CODENAME
tarball=$cache/$suite.tar
mkdir -p "$cache/apt-archives/partial"
started=$SECONDS
if [ ! -f "$tarball" ] || [ -n "$(find "$tarball" -mtime +7)" ]; then
  echo "== making a $suite root (mmdebstrap)"
  # What the test itself uses (systemd and man-db to check the unit), not what the package
  # needs: that comes through apt below.
  mmdebstrap --quiet --variant=apt --format=tar --include=g++,cmake,make,python3-venv,systemd,man-db --skip=cleanup/apt/lists \
    "$suite" "$tarball.part" \
    "deb http://deb.debian.org/debian $suite main" \
    "deb http://deb.debian.org/debian $suite-updates main" \
    "deb http://deb.debian.org/debian-security $suite-security main"
  mv "$tarball.part" "$tarball"
  echo "== root made in $((SECONDS - started)) s"
fi

root=$cache/root
rm -rf "$root"
mkdir -p "$root"
tar -C "$root" -xf "$tarball"
cp /etc/resolv.conf "$root/etc/resolv.conf"
mkdir -p "$root/tmp/pkg"
cp "${debs[0]}" "${wheels[0]}" "$source_dir/tests/package/in_root.sh" "$root/tmp/pkg/"
cp -r "$source_dir/tests/install/consumer" "$root/tmp/pkg/consumer"

# A mount namespace of its own (the mounts go when it ends) and a process namespace (every
# process started in the root ends with it, a tarnd left behind by a failure included).
status=0
unshare --mount --pid --fork --propagation private /bin/bash -c '
  set -e
  root=$1
  mount -t proc proc "$root/proc"
  mount --rbind /dev "$root/dev"
  mount --bind "$2" "$root/var/cache/apt/archives"
  exec chroot "$root" /bin/bash /tmp/pkg/in_root.sh
' package-test "$root" "$cache/apt-archives" || status=$?
rm -rf "$root"
echo "== package test: $((SECONDS - started)) s in all"
exit $status
