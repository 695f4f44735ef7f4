#!/usr/bin/env bash
# A wine session: the Windows programs of the cross build run under wine64, headless, in a wine
# prefix of the build folder (made on first use), served by one wine server for the whole session.
#
#   . scripts/wine_session.sh PREFIX             in a script: sets $wine, exports WINEPREFIX and
#                                                the quiet settings, starts the session; the
#                                                script calls wine_session_end when it stops
#   bash scripts/wine_session.sh PREFIX CMD...   runs CMD in a session, wine64 on its PATH
#                                                (the build's manual pages)
#
# A session started inside another one on the same prefix (the package test run by
# scripts/windows-tests.sh) uses that one's server and leaves it running.
#
# One server for the whole session: one that ends after each program (its default) races the
# next program's start, which then dies with "recvmsg: Connection reset by peer". A server still
# running (the one that made the prefix) refuses -p with status 2, so it is waited for first.
wine=$(dpkg -L wine64 | grep -m1 '/wine64$')
export WINEPREFIX=$(realpath -m "$1")
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
wine_session_owner=
if [ "${OSTREL_WINE_SESSION:-}" != "$WINEPREFIX" ]; then
  if [ ! -d "$WINEPREFIX/drive_c" ]; then
    echo "wine: making the wine prefix $WINEPREFIX" >&2
    "$wine" wineboot -i > /dev/null 2>&1
  fi
  "$(dirname "$wine")/wineserver" -w
  "$(dirname "$wine")/wineserver" -p
  export OSTREL_WINE_SESSION=$WINEPREFIX
  wine_session_owner=1
fi

wine_session_end() {
  if [ -n "$wine_session_owner" ]; then
    "$(dirname "$wine")/wineserver" -k 2> /dev/null || true
  fi
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -euo pipefail
  trap wine_session_end EXIT
  shift
  PATH=$(dirname "$wine"):$PATH "$@"
fi
