#!/usr/bin/env bash
# Installs what the Windows cross build needs and builds the Windows SDK of its dependencies.
#
#   1. Debian packages: the mingw-w64 cross compilers and wine64 (only those missing).
#   2. Once, into the SDK folder ($OSTREL_WINDOWS_SDK, default build-windows/sdk): omniORB (static,
#      through its own Windows make system), ACE (static, MPC-generated makefiles), pugixml and
#      googletest, all cross-built with the -posix compilers from Debian's source packages; the
#      header-only parts of Boost through a folder that holds only a link to the system's boost/.
#
# A finished SDK carries a stamp naming this script's recipe; a second run finds it and does
# nothing. Sources are fetched with `apt-get source` through a private apt folder, so the system's
# apt lists stay as they are.
set -euo pipefail
cd "$(dirname "$0")/.."

sdk=${OSTREL_WINDOWS_SDK:-$PWD/build-windows/sdk}
jobs=${JOBS:-2}
recipe=omniorb-4.2.5.ace-7.0.8.pugixml-1.13.gtest-1.12.1.r1
target=x86_64-w64-mingw32
cxx=$target-g++-posix
cc=$target-gcc-posix

# groff and unzip: the Windows package's manual pages as text, and its test.
packages=(g++-mingw-w64-x86-64 wine64 omniidl libboost-dev libcli11-dev googletest dpkg-dev cmake make perl python3
          groff-base unzip)
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "install-windows-deps: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if [ -f "$sdk/.stamp" ] && [ "$(cat "$sdk/.stamp")" = "$recipe" ]; then
  exit 0
fi

echo "install-windows-deps: building the Windows SDK in $sdk"
started=$SECONDS
work=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-windows-sdk.XXXXXX")
trap 'rm -rf "$work"' EXIT
rm -rf "$sdk"
mkdir -p "$sdk/include" "$sdk/lib"

# --- sources -------------------------------------------------------------------------------------
apt_dir=$work/apt
mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$work/src"
suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
echo "deb-src http://deb.debian.org/debian $suite main" > "$apt_dir/sources.list.d/sources.list"
apt_opts=(-o Dir::Etc::sourcelist=/dev/null -o "Dir::Etc::sourceparts=$apt_dir/sources.list.d"
          -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
          -o APT::Sandbox::User=root)
apt-get "${apt_opts[@]}" update -qq
(cd "$work/src" && apt-get "${apt_opts[@]}" source --download-only -qq omniorb-dfsg ace pugixml)
for tarball in "$work"/src/*.orig.tar.*; do tar -xf "$tarball" -C "$work/src"; done
omni=$(echo "$work"/src/omniORB-4.2.5)
ace=$(echo "$work"/src/ace-7.0.8*)
pugi=$(echo "$work"/src/pugixml-1.13)

# --- omniORB -------------------------------------------------------------------------------------
# Its autoconf knows no mingw target, so its Windows make system runs with a platform file of our
# own. The make system wants omkdepend from its own tree: a host build of it serves.
gcc -O1 -w -DDEBUG -o "$work/omkdepend" \
  "$omni"/src/tool/omkdepend/{include,main,parse,pr,cppsetup,ifparser}.c
cat > "$omni/mk/platforms/x86_64_w64_mingw.mk" <<EOF
WindowsNT = 1
x86Processor = 1
WINVER = 0x0601
BINDIR = bin/x86_64_mingw
LIBDIR = lib/x86_64_mingw
ABSTOP = \$(shell cd \$(TOP); pwd)
PYTHON = /usr/bin/python3
include \$(THIS_IMPORT_TREE)/mk/mingw.mk
CXX = $cxx
CXXLINK = \$(CXX)
CC = $cc
CLINK = \$(CC)
AR = $target-ar cq
RANLIB = $target-ranlib
OMKDEPEND = $work/omkdepend
OMNIIDL = $(command -v omniidl)
CXXOPTIONS = -mthreads -std=c++17 -Wno-deprecated-declarations
IMPORT_CPPFLAGS += -D__x86__ -D__NT__ -D__OSVERSION__=4 -D_WINSTATIC
EOF
sed -i 's/^#platform = x86_win32_mingw$/platform = x86_64_w64_mingw/' "$omni/config/config.mk"
# Two source fixes. A 64-bit Windows pointer does not fit the 32-bit long the GNU branch assumes
# (stringtypes.h: "cast from char* loses precision"); and C++17 refuses the dynamic
# throw list of the registry reader.
sed -i '0,/^#  define _CORBA_LONGLONG_CONST(x) (x##LL)$/s//&\n#  if defined(_WIN64)\n#    define SIZEOF_PTR 8\n#    include <stddef.h>\n#  endif/' \
  "$omni/include/omniORB4/CORBA_sysdep_trad.h"
sed -i 's/^orbOptions::importFromRegistry() throw (/orbOptions::importFromRegistry() OMNI_THROW_SPEC (/' \
  "$omni/src/lib/omniORB/orbcore/orbOptionsReg.cc"
grep -q 'define SIZEOF_PTR 8' "$omni/include/omniORB4/CORBA_sysdep_trad.h"
grep -q OMNI_THROW_SPEC "$omni/src/lib/omniORB/orbcore/orbOptionsReg.cc"

make -C "$omni/src/lib/omnithread" -j"$jobs" mkstatic > "$work/omnithread.log" 2>&1 || { tail -40 "$work/omnithread.log"; exit 1; }
make -C "$omni/src/lib/omniORB" export SUBDIRS= > "$work/omniheaders.log" 2>&1 || { tail -40 "$work/omniheaders.log"; exit 1; }
for part in orbcore dynamic; do
  make -C "$omni/src/lib/omniORB/$part" -j"$jobs" mkstatic > "$work/omni-$part.log" 2>&1 \
    || { tail -40 "$work/omni-$part.log"; exit 1; }
done
cp "$omni"/src/lib/omnithread/static/libomnithread.a \
   "$omni"/src/lib/omniORB/orbcore/static/libomniORB4.a \
   "$omni"/src/lib/omniORB/dynamic/static/libomniDynamic4.a "$sdk/lib/"
cp -r "$omni/include/omniORB4" "$omni/include/omnithread" "$omni/include/omnithread.h" \
      "$omni/include/omniconfig.h" "$sdk/include/"
echo "install-windows-deps: omniORB done after $((SECONDS - started)) s"

# --- ACE -----------------------------------------------------------------------------------------
export ACE_ROOT=$ace MPC_ROOT=$ace/MPC
echo '#include "ace/config-win32.h"' > "$ace/ace/config.h"
cat > "$ace/include/makeinclude/platform_macros.GNU" <<EOF
CROSS_COMPILE = $target-
static_libs_only = 1
debug = 0
optimize = 1
include \$(ACE_ROOT)/include/makeinclude/platform_mingw32.GNU
CC  = $cc
CXX = $cxx
DLD = \$(CXX)
LD  = \$(CXX)
OCFLAGS = -O2
OCCFLAGS = -O2
EOF
(cd "$ace/ace" && perl "$MPC_ROOT/mpc.pl" -type gnuace ace.mpc > "$work/mpc.log" 2>&1) || { cat "$work/mpc.log"; exit 1; }
make -C "$ace/ace" -f GNUmakefile.ACE -j"$jobs" > "$work/ace.log" 2>&1 || { tail -40 "$work/ace.log"; exit 1; }
cp "$ace/lib/libACE.a" "$sdk/lib/"
(cd "$ace" && find ace \( -name '*.h' -o -name '*.inl' -o -name '*.cpp' \) -print0 \
   | xargs -0 cp --parents -t "$sdk/include")
echo "install-windows-deps: ACE done after $((SECONDS - started)) s"

# --- pugixml and googletest (CMake, through the project's toolchain file) -------------------------
toolchain=$PWD/cmake/mingw-w64-x86_64.cmake
cmake_cross() {  # source build-dir extra-args...
  local source=$1 build=$2
  shift 2
  cmake -S "$source" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DOSTREL_WINDOWS_SDK="$sdk" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$sdk" -DBUILD_SHARED_LIBS=OFF "$@" > "$build.log" 2>&1 \
    && cmake --build "$build" -j "$jobs" >> "$build.log" 2>&1 \
    && cmake --install "$build" >> "$build.log" 2>&1 || { tail -40 "$build.log"; exit 1; }
}
cmake_cross "$pugi" "$work/pugixml-build"
cmake_cross /usr/src/googletest "$work/googletest-build" -Dgtest_disable_pthreads=OFF
echo "install-windows-deps: pugixml and googletest done after $((SECONDS - started)) s"

# --- header-only libraries: Boost's header-only parts, CLI11 (the tool) -----------------------------
# Only their folders are linked: the system's include folder itself must never be on the cross
# include path.
mkdir -p "$sdk/header-only"
ln -sfn /usr/include/boost "$sdk/header-only/boost"
ln -sfn /usr/include/CLI "$sdk/header-only/CLI"

echo "$recipe" > "$sdk/.stamp"
echo "install-windows-deps: SDK ready in $((SECONDS - started)) s"
