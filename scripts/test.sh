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

# Each step says when it started, so a slow one shows in the log.
started=$SECONDS
step() { echo "== $1 (at $(((SECONDS - started) / 60)) min $(((SECONDS - started) % 60)) s)"; }

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

step "linux: build"
configure linux
cmake --build --preset linux
# From the optimised build: the receiver scripts/run.sh runs, and the phone
# simulator that drives it in the soak below.
step "linux-release: build the receiver and the phone simulator"
configure linux-release
cmake --build --preset linux-release --target korvex-receiver korvex-phone-sim
# The 32-bit DirectShow camera and its test programs, which the Windows tests run.
step "windows-x86: build"
configure windows-x86
cmake --build --preset windows-x86
step "windows: build"
configure windows -DKORVEX_NATIVE_BUILD_DIR="$native_build" \
  -DKORVEX_X86_BUILD_DIR="$PWD/build/windows-x86"
cmake --build --preset windows

status=0
for preset in linux windows; do
  step "${preset}: tests"
  ctest --preset "$preset" || status=1
done
# Leave no Wine server behind.
WINEPREFIX="$PWD/build/windows/wineprefix" wineserver -k 2>/dev/null || true

# ThreadSanitizer on the tests that run the receiver's threads together: the
# phone link, decode thread and frame section unit tests and the integration
# tests that drive the whole program. Not video_e2e and phone_link_Streaming:
# they assert that the decoder keeps up with a real-time stream, which a
# ThreadSanitizer build on a loaded machine does not.
step "linux-tsan: build what those tests run"
configure linux-tsan
cmake --build --preset linux-tsan --target server_tests frames_tests section_tests \
  frame_section_concurrency_tests korvex-receiver korvex-frames frame-feeder
step "linux-tsan: tests that run threads"
ctest --preset linux-tsan -E '^phone_link_Streaming$' \
  -R '^(server_tests|frames_tests|section_tests|frame_section_concurrency_tests|frame_section|receiver_status|phone_link_.*)$' ||
  status=1

# The fuzzers and the soak run side by side: neither judges time (the soak
# checks threads and descriptors, and a fuzzer's run is bounded by time, not
# by executions). Memory growth is judged on an hour's run (scripts/soak.py);
# over two minutes its slope is noise.
step "fuzz (stream parser, hello parser, SPS reader) beside two minutes of soak"
fuzz_log=$(mktemp)
bash scripts/fuzz.sh 75 >"$fuzz_log" 2>&1 &
fuzz_pid=$!
python3 scripts/soak.py --minutes 2 --check || status=1
wait "$fuzz_pid" || status=1
cat "$fuzz_log"
rm -f "$fuzz_log"
step "done"

if [[ $status -eq 0 ]]; then
  echo "all tests passed"
fi
exit $status
