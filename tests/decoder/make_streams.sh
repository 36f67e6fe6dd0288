#!/usr/bin/env bash
# Writes the stream files the Windows decoder tests read, with the generator
# of the native build (libx264 cannot run in the cross build's tests).
# Usage: make_streams.sh GENERATOR OUT_DIR.
set -euo pipefail
generator=$1
out=$2
rm -rf "$out"
mkdir -p "$out"
"$generator" "$out/720p.kvs" 1280x720 20
"$generator" "$out/1080p.kvs" 1920x1080 8
"$generator" "$out/portrait.kvs" 1080x1920 4
"$generator" "$out/size-change.kvs" 640x360 6 1280x720 6
echo "streams written to $out"
