#!/usr/bin/env bash
# Runs a Windows test program under Wine with the build's private prefix.
# Usage: wine-run.sh PREFIX_DIR PROGRAM.exe [ARGS...]
set -euo pipefail
prefix=$(realpath -m "$1")
shift
export WINEPREFIX=$prefix
export WINEDEBUG=-all
# winemenubuilder would turn Start-menu shortcuts into menu entries of the host user.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
mkdir -p "$WINEPREFIX"
# A wineserver started by wine itself would inherit our output pipes and keep
# ctest waiting after the test ends; start it detached first.
wineserver -p5 </dev/null >/dev/null 2>&1 || true
# Once wine32 is installed, Debian's wine starts the 32-bit loader: builtin
# programs such as reg.exe then run as 32-bit ones, reading the 32-bit
# registry view, and a 64-bit receiver started that way was seen not to end
# on SIGINT. The 64-bit loader starts 32-bit programs as well.
if [[ -x /usr/lib/wine/wine64 ]]; then
  exec /usr/lib/wine/wine64 "$@"
fi
exec wine "$@"
