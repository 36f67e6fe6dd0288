#!/usr/bin/env bash
# Builds the stream parser's libFuzzer harness (clang, AddressSanitizer +
# UndefinedBehaviorSanitizer) and runs it for a bounded time, by default 60
# seconds: scripts/fuzz.sh [SECONDS]. It starts from seeds of well-formed
# messages of every kind, keeps what it finds in build/fuzz/corpus, and prints
# how many inputs it ran. Any broken invariant or sanitizer report fails it and
# leaves the input in build/fuzz/artifacts.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
dir=build/fuzz

log=$(mktemp)
if ! { cmake --preset fuzz && cmake --build --preset fuzz; } >"$log" 2>&1; then
  cat "$log"
  rm -f "$log"
  echo "fuzz: build failed" >&2
  exit 1
fi
rm -f "$log"
mkdir -p "$dir/seeds" "$dir/corpus" "$dir/artifacts"

python3 - "$dir" <<'PY'
import pathlib, struct, sys

def message(kind, flags, payload):
    return b"KVX1" + struct.pack("<BBHI", kind, flags, 0, len(payload)) + payload

seeds = {
    "hello": message(1, 0, b'{"name":"phone","width":1280,"height":720,"fps":30}'),
    "video-key": message(2, 1, struct.pack("<Q", 33333) + b"\0\0\0\1\x67\x42" + bytes(range(64))),
    "video-empty": message(2, 0, struct.pack("<Q", 1)),
    "control": message(3, 0, b'{"cmd":"keyframe"}'),
    "audio": message(4, 0, struct.pack("<Q", 7) + struct.pack("<8h", 0, 1, -1, 32767, -32768, 5, 6, 7)),
    "audio-silent": message(4, 2, struct.pack("<Q", 7) + bytes(9)),
    "ping": message(5, 0, struct.pack("<Q", 2_000_000)),
    "ping-reply": message(5, 1, struct.pack("<Q", 2_000_000)),
    "bye": message(6, 0, b""),
}
seeds["stream"] = b"".join(seeds.values())
root = pathlib.Path(sys.argv[1])
for name, data in seeds.items():
    (root / "seeds" / name).write_bytes(data)
# Tokens the fuzzer may splice in: the magic, and lengths at and around the limit.
(root / "wire.dict").write_text('magic="KVX1"\nlimit="\\x00\\x00\\x40\\x00"\nover="\\x01\\x00\\x40\\x00"\n')
PY

log="$dir/fuzz.log"
if ! "$dir/tests/fuzz/wire_parser_fuzz" -max_total_time="$seconds" -print_final_stats=1 \
    -dict="$dir/wire.dict" -artifact_prefix="$dir/artifacts/" \
    "$dir/corpus" "$dir/seeds" >"$log" 2>&1; then
  tail -n 40 "$log"
  echo "fuzz: FAILED, see $log and $dir/artifacts" >&2
  exit 1
fi
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
echo "fuzz: ${runs} executions in ${seconds} s, all clean"
