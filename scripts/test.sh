#!/usr/bin/env bash
# Installs what is missing, builds every preset the README names and runs every
# test: natively (with AddressSanitizer and UndefinedBehaviorSanitizer) and the
# Windows build under Wine, then fuzzes what reads network input (the stream
# parser, the hello parser, the SPS reader) for 75 seconds and runs the
# receiver through two minutes of phone sessions, failing if its threads or
# descriptors grow.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

# The Windows tests borrow the native build's phone simulator and stream writer.
native_build="$PWD/build/linux"

configure() {
  local log
  log=$(mktemp)
  if ! cmake --preset "$@" >"$log" 2>&1; then
    cat "$log"
    rm -f "$log"
    echo "configure failed: $1" >&2
    return 1
  fi
  rm -f "$log"
}

# linux-release is what scripts/run.sh builds, so it must build too.
for preset in linux linux-release windows; do
  echo "== ${preset}: build"
  if [[ $preset == windows ]]; then
    configure "$preset" -DKORVEX_NATIVE_BUILD_DIR="$native_build"
  else
    configure "$preset"
  fi
  cmake --build --preset "$preset"
done

status=0
for preset in linux windows; do
  echo "== ${preset}: tests"
  ctest --preset "$preset" || status=1
done
# Leave no Wine server behind.
WINEPREFIX="$PWD/build/windows/wineprefix" wineserver -k 2>/dev/null || true

# ThreadSanitizer on the tests that run the receiver's threads together: the
# phone link, decode thread and frame section unit tests and the integration
# tests that drive the whole program. Not video_e2e and phone_link_Streaming:
# they assert that the decoder keeps up with a real-time stream, which a
# ThreadSanitizer build on a loaded machine does not.
echo "== linux-tsan: build"
configure linux-tsan
cmake --build --preset linux-tsan
echo "== linux-tsan: tests that run threads"
ctest --preset linux-tsan -E '^phone_link_Streaming$' \
  -R '^(server_tests|frames_tests|section_tests|frame_section_concurrency_tests|frame_section|receiver_status|phone_link_.*)$' ||
  status=1

echo "== fuzz: stream parser, hello parser, SPS reader"
bash scripts/fuzz.sh 75 || status=1

# Memory growth is judged on an hour's run (scripts/soak.py); over two
# minutes its slope is noise.
echo "== soak: two minutes of sessions"
python3 scripts/soak.py --minutes 2 --check || status=1

if [[ $status -eq 0 ]]; then
  echo "all tests passed"
fi
exit $status
