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
# A 64-bit program goes to the 64-bit loader itself. With wine32 installed,
# Debian's `wine` starts the 32-bit loader, which hands a 64-bit program to
# start.exe /exec: the program then runs as start.exe's child, and the
# SIGINT a test sends (Wine's Ctrl-C) reaches start.exe, not the program.
machine() {  # the PE header's machine field, in hex: 8664 for x86-64
  local header
  header=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ') || return 0
  [ -n "$header" ] && od -An -tx2 -j$((header + 4)) -N2 "$1" 2>/dev/null | tr -d ' '
}
if [ -f "$1" ] && [ -x /usr/lib/wine/wine64 ] && [ "$(machine "$1")" = 8664 ]; then
  exec /usr/lib/wine/wine64 "$@"
fi
exec wine "$@"
