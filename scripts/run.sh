#!/usr/bin/env bash
# Installs what is missing, builds the receiver natively (optimised) and starts
# it with the given options, for example: scripts/run.sh --no-vcam --gain 2
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
log=$(mktemp)
if ! { cmake --preset linux-release && cmake --build --preset linux-release --target korvex-receiver; } \
    >"$log" 2>&1; then
  cat "$log"
  rm -f "$log"
  echo "build failed" >&2
  exit 1
fi
rm -f "$log"
exec build/linux-release/korvex-receiver "$@"
