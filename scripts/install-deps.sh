#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those that are missing; with --tests also
# those that only the tests use (make test, make asan): the browser for the web view's test and
# the network tools for the tests across hosts; with --package also what building and testing
# the packages needs (make package, make package-test): dpkg-dev for the .deb's library
# dependencies, mmdebstrap for the fresh Debian root the package test installs into.
# Safe to run any number of times: when everything is present it does nothing.
set -euo pipefail

packages=(
  cmake make g++ pkg-config
  libace-dev
  libomniorb4-dev omniidl
  libboost-dev
  libpugixml-dev
  libcli11-dev libedit-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  pybind11-dev python3-dev python3-pytest
  python3-pip python3-venv
)
if [ "${1:-}" = --tests ]; then
  packages+=(iproute2 util-linux)  # ip netns and unshare, for the tests across network namespaces
  packages+=(chromium chromium-driver python3-selenium)  # the web view's page in a headless browser
fi
if [ "${1:-}" = --package ]; then
  packages+=(dpkg-dev mmdebstrap)
fi
# clang with libFuzzer and the sanitizer runtimes, for the fuzz targets.
if [ "${OSTREL_WITH_CLANG:-1}" = 1 ]; then
  packages+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
# Another apt run on the same machine holds the lock for a while: wait for it rather than fail.
"${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=600 update -qq
"${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
