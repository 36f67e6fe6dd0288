#!/usr/bin/env bash
# Runs korvex-hostile-peer's attacks, full size, against the Linux release
# build and then the Windows build under Wine, each while the phone simulator
# streams 720p30 with audio beside them, and prints every figure: per attack
# the simulator's recovery time, the receiver's threads, descriptors and peak
# memory against its baseline, and the unreadable stamps seen in the section.
# Runs in a network and mount namespace of its own, so the receiver's port
# and frame section are its alone and nothing leaves loopback.
# Usage: scripts/hostile_figures.sh [--native-only | --wine-only] [--quick] [--only NAME]...
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ -z ${KORVEX_FIGURES_NS:-} ]]; then
  cmake --preset linux-release >/dev/null
  cmake --build --preset linux-release -j2 --target korvex-receiver korvex-frames \
    korvex-phone-sim korvex-hostile-peer >/dev/null
  exec unshare --mount --net --propagation private --map-root-user \
    env KORVEX_FIGURES_NS=1 sh -c 'ip link set lo up && mount -t tmpfs tmpfs /dev/shm && exec "$@"' \
    sh bash "$0" "$@"
fi

targets=both
case ${1:-} in
  --native-only) targets=native && shift ;;
  --wine-only) targets=wine && shift ;;
esac

bin=build/linux-release
out=$bin/hostile-figures
mkdir -p "$out"

wait_ready() {
  for _ in $(seq 600); do
    grep -q "shm mapped" "$1" 2>/dev/null && return 0  # listening, and the section mapped
    sleep 0.1
  done
  echo "receiver did not start: $(cat "$1")" >&2
  exit 1
}

# attack OUTPUT RECEIVER... [PEER ARGS] -- FRAMES...: starts the receiver
# (the words before the first option) with its output in OUTPUT, runs every
# attack against it, says whether it survived them, then stops it.
attack() {
  local output=$1 receiver=()
  shift
  while [[ $# -gt 0 && $1 != -* ]]; do
    receiver+=("$1") && shift
  done
  "${receiver[@]}" --no-audio --no-vcam --no-mdns >"$output" 2>&1 &
  receiver_pid=$!
  wait_ready "$output"
  $bin/korvex-hostile-peer --sim $bin/korvex-phone-sim --pid "$receiver_pid" "$@" || status=1
  if kill -0 "$receiver_pid" 2>/dev/null; then
    echo "receiver still running after every attack"
  else
    echo "RECEIVER EXITED" && status=1
  fi
  kill -INT "$receiver_pid"
  wait "$receiver_pid" || true
  receiver_pid=
}

receiver_pid=
trap '[[ -n $receiver_pid ]] && kill -INT "$receiver_pid" 2>/dev/null' EXIT
status=0

if [[ $targets != wine ]]; then
  echo "Native receiver (linux-release), $(nproc) CPUs; load: $(uptime)"
  attack "$out/receiver.txt" "$bin/korvex-receiver" --judge-memory "$@" -- $bin/korvex-frames
  echo "load after: $(uptime)"
fi
[[ $targets == native ]] && exit $status

exe=build/windows/korvex-receiver.exe
if [[ ! -f $exe ]]; then
  echo "no Windows build ($exe): build the windows preset for the Wine figures"
  exit $status
fi
echo "Windows build under Wine; load: $(uptime)"
wine_run=(cmake/wine-run.sh build/windows/wineprefix)
# Under Wine the H.264 decoder is GStreamer's, whose threads allocate through
# glibc. glibc gives each new thread an arena of its own, up to 16 on two
# CPUs, and keeps what a thread freed in its arena for later: every phone that
# connects builds a decoder with new threads, and the receiver's resident
# memory grew by what those arenas held (churn at once: +8.5 to +11.0 MiB,
# +4.6 and +5.9 with two arenas), memory Windows, without glibc, never
# spends. Two arenas keep the figures to what the receiver itself does.
echo "Wine's glibc limited to 2 malloc arenas (MALLOC_ARENA_MAX=2)"
attack "$out/receiver-wine.txt" env MALLOC_ARENA_MAX=2 "${wine_run[@]}" "$exe" "$@" \
  -- "${wine_run[@]}" build/windows/korvex-frames.exe
WINEPREFIX="$PWD/build/windows/wineprefix" wineserver -k 2>/dev/null || true
echo "load after: $(uptime)"
exit $status
