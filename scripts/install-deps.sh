#!/usr/bin/env bash
# Installs everything the build and the tests need, from Debian's packages.
# Idempotent: packages already present are left alone; safe to run again.
set -euo pipefail

packages=(
  # native toolchain and build
  build-essential cmake ninja-build pkg-config clang-format
  # Windows cross toolchain (posix threads) and Wine to run its tests; the
  # 32-bit ones for the DirectShow camera that 32-bit programs load (wine32
  # is about 165 packages, two minutes to install)
  g++-mingw-w64-x86-64-posix wine wine64
  g++-mingw-w64-i686-posix wine32:i386
  # the Windows installer (makensis)
  nsis
  # the H.264 decoder transform under Wine: winegstreamer parses with
  # h264parse (plugins-bad), converts with plugins-base and decodes with libav
  gstreamer1.0-libav gstreamer1.0-plugins-base gstreamer1.0-plugins-bad
  # libraries
  libfmt-dev nlohmann-json3-dev libstb-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  # phone simulator (H.264 encoder) and the tests that decode its stream
  libx264-dev libavcodec-dev libavutil-dev
  # audio output on Linux: PulseAudio's client library
  libpulse-dev
  # service advertisement on Linux, and the daemon and bus its test runs
  libavahi-client-dev avahi-daemon avahi-utils dbus
  # the camera on Linux (a PipeWire node), and the server, tools and GStreamer
  # reader its test runs
  libpipewire-0.3-dev pipewire pipewire-bin gstreamer1.0-pipewire gstreamer1.0-tools
  # the Linux desktop the desktop tests run: its session manager, the PulseAudio
  # interface browsers record through, the portal that gives browsers cameras,
  # and the browser
  wireplumber pipewire-pulse xdg-desktop-portal chromium
  # fuzzing: clang with libFuzzer
  clang libclang-rt-14-dev
  # test helpers
  procps python3 pulseaudio pulseaudio-utils
  # the figure scripts run in a network namespace of their own
  iproute2 util-linux
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then
  sudo_cmd=(sudo)
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386  # for wine32:i386
fi
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
