#!/usr/bin/env bash
# Prints the video pipeline's figures on one 1920x1080 30 fps stream from the
# phone simulator: the frame-section reader's stamp-to-visible latency, frames
# lost, the receiver's CPU use and peak resident memory, and beside them the
# raw single-threaded libavcodec decode time per frame of the same stream
# (encoded again offline with the simulator's picture and settings), so the
# pipeline's overhead shows as a ratio. Then the same latency figures for
# the Windows build under Wine, which describe Wine's decoder, not Windows'.
# Runs in a network and mount namespace of its own, so the receiver's port
# and frame section are its alone and nothing leaves loopback.
# Usage: scripts/video_figures.sh [SECONDS]   (default 20)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
fps=30
size=1920x1080

if [[ -z ${KORVEX_FIGURES_NS:-} ]]; then
  cmake --preset linux-release >/dev/null
  cmake --build --preset linux-release --target korvex-receiver korvex-frames korvex-phone-sim \
    korvex-sim-stream korvex-decode-timing >/dev/null
  exec unshare --mount --net --propagation private --map-root-user \
    env KORVEX_FIGURES_NS=1 sh -c 'ip link set lo up && mount -t tmpfs tmpfs /dev/shm && exec "$@"' \
    sh bash "$0" "$seconds"
fi

bin=build/linux-release
out=$bin/video-figures
mkdir -p "$out"
sim=$bin/korvex-phone-sim
ticks=$(getconf CLK_TCK)

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
field() { tr ' ' '\n' <<<"$2" | grep "^$1=" | cut -d= -f2; }

# Streams into a receiver already listening; leaves the reader's and the
# simulator's last lines in $watch_line and $sim_line.
stream_and_watch() {
  local -a reader=("$@")
  "${reader[@]}" --watch $((seconds + 4)) >"$out/watch.txt" 2>&1 &
  local watch_pid=$!
  sleep 2  # the reader has the section open by then
  sim_start_ticks=$(cpu_ticks "$receiver_pid" 2>/dev/null || echo 0)
  sim_start=$(date +%s.%N)
  "$sim" --size $size --fps $fps --gop $fps --duration "$seconds" --audio none \
    --name Figures >"$out/sim.txt" 2>&1
  sim_end=$(date +%s.%N)
  sim_end_ticks=$(cpu_ticks "$receiver_pid" 2>/dev/null || echo 0)
  wait "$watch_pid" || { cat "$out/watch.txt" >&2; exit 1; }
  watch_line=$(tail -n 1 "$out/watch.txt")
  sim_line=$(tail -n 1 "$out/sim.txt")
}

report_latency() {
  local sent seen
  sent=$(field frames "$sim_line")
  seen=$(field frames "$watch_line")
  echo "  stamp-to-visible latency ms: p50 $(field latency_ms_p50 "$watch_line")" \
    "p99 $(field latency_ms_p99 "$watch_line") max $(field latency_ms_max "$watch_line")"
  echo "  frames sent $sent, seen by the reader $seen, lost $((sent - seen))" \
    "(unreadable $(field unreadable "$watch_line"), stamp gaps $(field gaps "$watch_line")," \
    "size $(field size "$watch_line"))"
}

wait_ready() {
  for _ in $(seq 300); do
    grep -q "shm mapped" "$1" && return 0  # listening, and the section mapped
    sleep 0.1
  done
  echo "receiver did not start: $(cat "$1")" >&2
  exit 1
}

receiver_pid=
trap '[[ -n $receiver_pid ]] && kill -INT "$receiver_pid" 2>/dev/null' EXIT
echo "Native receiver (linux-release), $size at $fps fps for $seconds s, $(nproc) CPUs"
$bin/korvex-receiver --no-audio --no-vcam --no-mdns >"$out/receiver.txt" 2>&1 &
receiver_pid=$!
wait_ready "$out/receiver.txt"
stream_and_watch $bin/korvex-frames
sleep 1.5  # the decode thread finishes its queue
peak_kib=$(awk '/^VmHWM/ {print $2}' "/proc/$receiver_pid/status")
kill -INT "$receiver_pid"
wait "$receiver_pid" || true
report_latency
written=$(grep -o "shm mapped [0-9]* written" "$out/receiver.txt" | tail -n 1 | cut -d' ' -f3)
cpu=$(awk -v t=$((sim_end_ticks - sim_start_ticks)) -v hz="$ticks" -v a="$sim_start" \
  -v b="$sim_end" 'BEGIN {printf "%.1f", 100 * t / hz / (b - a)}')
echo "  frames written by the decode thread: $written"
echo "  receiver CPU: $cpu% of one core over the stream; peak resident memory $((peak_kib / 1024)) MiB"

# The raw decoder, one thread, on the simulator's stream encoded again offline.
$bin/tests/korvex-sim-stream "$out/$size.kvs" $size $fps $((seconds * fps))
timing=$($bin/tests/korvex-decode-timing "$out/$size.kvs")
echo "  raw libavcodec, one thread: $timing"
per_frame=$(grep -o '[0-9.]* ms per' <<<"$timing" | cut -d' ' -f1)
awk -v cpu="$cpu" -v f="$per_frame" -v fps=$fps 'BEGIN {
  raw = 100 * f * fps / 1000
  printf "  raw decode at %d fps would take %.1f%% of one core: the receiver uses %.2fx that\n",
    fps, raw, cpu / raw }'

exe=build/windows/korvex-receiver.exe
if [[ ! -f $exe ]]; then
  echo "no Windows build ($exe): build the windows preset for the Wine figures"
  exit 0
fi
echo "Windows build under Wine (Wine's decoder, GStreamer's libav underneath; not Windows')"
wine_run=(cmake/wine-run.sh build/windows/wineprefix)
"${wine_run[@]}" "$exe" --no-audio --no-vcam --no-mdns >"$out/receiver-wine.txt" 2>&1 &
receiver_pid=$!
wait_ready "$out/receiver-wine.txt"
stream_and_watch "${wine_run[@]}" build/windows/korvex-frames.exe
kill -INT "$receiver_pid"
wait "$receiver_pid" || true
report_latency
WINEPREFIX="$PWD/build/windows/wineprefix" wineserver -k 2>/dev/null || true
