#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, AddressSanitizer +
# UndefinedBehaviorSanitizer) of what reads network input: the stream parser,
# the hello parser and the SPS reader; and runs them one after the other for
# a bounded time in all, by default 75 seconds shared evenly:
#   scripts/fuzz.sh [SECONDS] [HARNESS...]   (wire_parser, hello, sps_picture)
# Each starts from seeds of well-formed input (the phone simulator's hello,
# the SPS of the test streams), keeps what it finds in build/fuzz/corpus/NAME,
# and its executions are printed. Any broken invariant or sanitizer report
# fails the run and leaves the input in build/fuzz/artifacts.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-75}
shift || true
harnesses=("$@")
if [[ ${#harnesses[@]} -eq 0 ]]; then
  harnesses=(wire_parser hello sps_picture)
fi
dir=build/fuzz

log=$(mktemp)
if ! { cmake --preset fuzz && cmake --build --preset fuzz; } >"$log" 2>&1; then
  cat "$log"
  rm -f "$log"
  echo "fuzz: build failed" >&2
  exit 1
fi
rm -f "$log"
mkdir -p "$dir/artifacts"
for name in wire_parser hello sps_picture; do
  mkdir -p "$dir/seeds/$name" "$dir/corpus/$name"
done

python3 - "$dir" <<'PY'
import json, pathlib, struct, sys

root = pathlib.Path(sys.argv[1])

def write(harness, seeds):
    for name, data in seeds.items():
        (root / "seeds" / harness / name).write_bytes(data)

def message(kind, flags, payload):
    return b"KVX1" + struct.pack("<BBHI", kind, flags, 0, len(payload)) + payload

wire = {
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
wire["stream"] = b"".join(wire.values())
write("wire_parser", wire)

# The simulator's hellos (with and without audio), the array forms, and the
# edges of the ranges.
sim = {"name": "Soak", "app": "korvex-phone-sim", "width": 1920, "height": 1080, "fps": 30,
       "codec": "h264"}
hellos = {
    "sim-video": json.dumps(sim, separators=(",", ":")),
    "sim-audio": json.dumps(dict(sim, audio={"rate": 48000, "channels": 1, "format": "s16le"}),
                            separators=(",", ":")),
    "array": '["Zo\\u00eb","Korvex 1.2",1280,720,30,"h264",[48000,1,"s16le"]]',
    "array-short": '["Pixel","app",640,480,25]',
    "unknown-keys": '{"extra":[{"x":[1,2.5,null]},{"y":{}}],"name":"n","more":null,"f":1e9,"b":true}',
    "ranges": '{"width":4294967295,"audio":{"rate":-0,"channels":65535}}',
    "spaced": ' \t\r\n{ "name" : "\\ud83d\\ude00" , "audio" : [ 44100 , 2 ] }\n',
}
write("hello", {k: v.encode() for k, v in hellos.items()})
(root / "hello.dict").write_text("\n".join(
    f'"{t}"' for t in ['\\"name\\"', '\\"app\\"', '\\"width\\"', '\\"height\\"', '\\"fps\\"',
                       '\\"codec\\"', '\\"audio\\"', '\\"rate\\"', '\\"channels\\"',
                       '\\"format\\"', "4294967295", "4294967296", "65535", "65536", "-0",
                       "1e3", "1.0", "null", "true", "\\\\u0000", "\\\\ud800"]) + "\n")

# The SPS of the streams the tests write (libx264 at 1080p, 720p, portrait,
# 640x360 and the simulator's odd 642x362): as payloads after the NAL header,
# and as access units with a start code.
sps = {
    "1080p": "42c028da01e0089f966a0c0c0c80000003008000001e478c1950",
    "720p": "42c01fda014016e9a8303032000003000200000300791e306540",
    "portrait": "42c028da01100f1e5e6a0c0c0c80000003008000001e478c1950",
    "642x362": "42c01eda0290bf88926a0c0c0c80000003008000001e478b1750",
    "640x360": "42c01eda0280bfe59a83030320000003002000000791e2c5d4",
}
seeds = {}
for name, text in sps.items():
    payload = bytes.fromhex(text)
    seeds[name] = payload
    seeds[name + "-unit"] = b"\0\0\0\1\x09\xf0\0\0\0\1\x67" + payload + b"\0\0\0\1\x68\xce\x3c\x80"
write("sps_picture", seeds)

# Tokens the stream parser's fuzzer may splice in: the magic, and lengths at
# and around the limit.
(root / "wire_parser.dict").write_text(
    'magic="KVX1"\nlimit="\\x00\\x00\\x40\\x00"\nover="\\x01\\x00\\x40\\x00"\n')
PY

each=$((seconds / ${#harnesses[@]}))
status=0
for name in "${harnesses[@]}"; do
  dict=()
  [[ -f $dir/$name.dict ]] && dict=(-dict="$dir/$name.dict")
  log="$dir/$name.log"
  if ! "$dir/tests/fuzz/${name}_fuzz" -max_total_time="$each" -print_final_stats=1 "${dict[@]}" \
      -artifact_prefix="$dir/artifacts/$name-" "$dir/corpus/$name" "$dir/seeds/$name" \
      >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz: $name FAILED, see $log and $dir/artifacts" >&2
    status=1
    continue
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  echo "fuzz: $name: ${runs} executions in ${each} s, all clean"
done
exit $status
