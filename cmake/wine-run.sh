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
# The 64-bit loader runs everything but a 32-bit program, as Debian's `wine`
# does without wine32. With wine32 installed, `wine` starts the 32-bit loader,
# which hands a 64-bit program to start.exe /exec (the program then runs as
# start.exe's child, and the SIGINT a test sends as Ctrl-C reaches start.exe,
# not the program) and runs the system's own programs (reg, regsvr32) as
# 32-bit ones, which see the 32-bit registry.
machine() {  # the PE header's machine field, in hex: 014c for i386
  local header
  header=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ') || return 0
  [ -n "$header" ] && od -An -tx2 -j$((header + 4)) -N2 "$1" 2>/dev/null | tr -d ' '
}
if [ -x /usr/lib/wine/wine64 ] && ! { [ -f "$1" ] && [ "$(machine "$1")" = 014c ]; }; then
  exec /usr/lib/wine/wine64 "$@"
fi
exec wine "$@"
