#!/usr/bin/env bash
# Prints the H.264 decoder's time per frame on x264 test streams at 720p and
# 1080p: libavcodec single-threaded (linux-release build) and, when the
# Windows build exists, the system decoder transform under Wine. Under Wine
# the figures describe Wine's decoder (GStreamer's libav underneath), not
# Windows'.
# Usage: scripts/decoder_figures.sh [FRAMES]   (default 300, 10 s at 30 fps)
set -euo pipefail
cd "$(dirname "$0")/.."
frames=${1:-300}

cmake --preset linux-release >/dev/null
cmake --build --preset linux-release --target korvex-test-streams korvex-decode-timing >/dev/null
out=build/linux-release/decoder-figures
mkdir -p "$out"
for size in 1280x720 1920x1080; do
  build/linux-release/tests/korvex-test-streams "$out/$size.kvs" "$size" "$frames"
done

echo "libavcodec, one thread (this machine: $(nproc) CPUs)"
for size in 1280x720 1920x1080; do
  build/linux-release/tests/korvex-decode-timing "$out/$size.kvs"
done

timing_exe=build/windows/tests/korvex-decode-timing.exe
if [[ -f $timing_exe ]]; then
  echo "Media Foundation decoder transform under Wine (Wine's decoder, not Windows')"
  for size in 1280x720 1920x1080; do
    cmake/wine-run.sh build/windows/wineprefix "$timing_exe" "Z:$PWD/$out/$size.kvs"
  done
  WINEPREFIX="$PWD/build/windows/wineprefix" wineserver -k 2>/dev/null || true
else
  echo "no Windows build ($timing_exe): build the windows preset for the Wine figures"
fi
