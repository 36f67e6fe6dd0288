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
# With 32-bit Wine installed, `wine` is the 32-bit loader, which hands a
# 64-bit program over through start.exe (that fails past MAX_PATH and puts a
# process between the test and the program); so 64-bit programs, and Wine's
# own tools (as on 64-bit Windows), start under the 64-bit loader, and only
# 32-bit programs under the 32-bit one.
loader=/usr/lib/wine/wine64
if [[ -f $1 ]] && [[ $(od -An -tx1 -N2 "$1" | tr -d ' ') == 4d5a ]]; then
  pe=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  if [[ $(od -An -tx2 -j$((pe + 4)) -N2 "$1" | tr -d ' ') == 014c ]]; then
    loader=/usr/lib/wine/wine  # IMAGE_FILE_MACHINE_I386
  fi
fi
export WINELOADER=$loader
exec "$loader" "$@"
