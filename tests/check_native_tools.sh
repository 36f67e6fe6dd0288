#!/usr/bin/env bash
# Makes sure the native build the Windows tests borrow tools from exists, is a
# build of this source tree, and has those tools up to date: it builds them,
# which does nothing when they are current. Any failure fails the tests that
# need the tools, so they never run against a missing or outdated one.
# Usage: check_native_tools.sh NATIVE_BUILD_DIR SOURCE_DIR TOOL...
# (TOOL paths relative to the build directory; the file name is the target).
set -euo pipefail
build=$1
source=$2
shift 2
if [[ -z $build ]]; then
  echo "KORVEX_NATIVE_BUILD_DIR is not set: configure with -DKORVEX_NATIVE_BUILD_DIR=<linux build>" >&2
  echo "(scripts/test.sh builds the linux preset and passes it)" >&2
  exit 1
fi
if ! grep -qxF "CMAKE_HOME_DIRECTORY:INTERNAL=$source" "$build/CMakeCache.txt" 2>/dev/null; then
  echo "$build is not a configured build of $source" >&2
  exit 1
fi
targets=()
for tool in "$@"; do
  targets+=("$(basename "$tool")")
done
cmake --build "$build" --target "${targets[@]}"
for tool in "$@"; do
  if [[ ! -x $build/$tool ]]; then
    echo "$build/$tool is missing after the build" >&2
    exit 1
  fi
done
echo "native tools up to date: $*"
