#!/usr/bin/env bash
# Installs what is missing, builds both targets and runs every test: natively
# (with AddressSanitizer and UndefinedBehaviorSanitizer) and the Windows build
# under Wine, then fuzzes the stream parser for a minute.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

status=0
for preset in linux windows; do
  echo "== ${preset}: build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
for preset in linux windows; do
  echo "== ${preset}: tests"
  ctest --preset "$preset" || status=1
done
# Leave no Wine server behind.
WINEPREFIX="$PWD/build/windows/wineprefix" wineserver -k 2>/dev/null || true

echo "== fuzz: stream parser"
bash scripts/fuzz.sh 60 || status=1

if [[ $status -eq 0 ]]; then
  echo "all tests passed"
fi
exit $status
