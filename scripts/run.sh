#!/usr/bin/env bash
# Installs what is missing, builds the receiver natively (optimised) and starts
# it with the given options, for example: scripts/run.sh --no-vcam --gain 2
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release --target korvex-receiver >/dev/null
exec build/linux-release/korvex-receiver "$@"
