#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those that are missing; with --tests also
# those that only the tests use (make test, make asan): the browser for the web view's test and
# the network tools for the tests across hosts; with --docs those that build the documentation
# (make docs, make api-docs); with --package also what building and testing the packages needs
# (make package, make package-test): dpkg-dev for the .deb's library dependencies, mmdebstrap for
# the fresh Debian root the package test installs into. The flags combine.
# Safe to run any number of times: when everything is present it does nothing.
set -euo pipefail

packages=(
  cmake make g++ pkg-config
  libace-dev
  libomniorb4-dev omniidl
  libssl-dev  # TLS: omniORB's SSL transport links OpenSSL
  libboost-dev
  libpugixml-dev
  libcli11-dev libedit-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  pybind11-dev python3-dev python3-pytest
  python3-pip python3-venv
)
for flag in "$@"; do
  case "$flag" in
    --tests)
      packages+=(iproute2 util-linux)  # ip netns and unshare, for the tests across network namespaces
      packages+=(openssl)  # the TLS tests make a throwaway CA and certificates
      packages+=(chromium chromium-driver python3-selenium)  # the web view's page in a headless browser
      ;;
    --package)
      packages+=(dpkg-dev mmdebstrap)
      ;;
    --docs)
      # The documentation site (make docs): Markdown pages through Sphinx, the C++ reference
      # from the installed headers through Doxygen's XML and Breathe.
      packages+=(python3-sphinx python3-myst-parser python3-breathe doxygen)
      ;;
  esac
done
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

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  # Another apt run on the same machine holds the lock for a while: wait for it rather than fail.
  "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=600 update -qq
  "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
fi

# The trend's chart library for `ostrel web`, from the npm registry. Optional: where npm cannot be
# had (a Node.js from elsewhere that brings none) or the registry cannot be reached, the build
# leaves the library out and the page draws its plain plot (fetch-web-deps.sh says so).
if ! command -v npm >/dev/null; then
  echo "install-deps: installing npm"
  { "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=600 update -qq &&
    "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends npm; } ||
    echo "install-deps: npm could not be installed; ostrel web's trend uses its plain plot" >&2
fi
bash "$(dirname "$0")/fetch-web-deps.sh"
