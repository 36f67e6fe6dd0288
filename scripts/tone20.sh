#!/usr/bin/env bash
# tone20.sh linux|windows [N]: the whole-tone test N times in a row (default 20), in a
# network and mount namespace of its own, against build/linux or build/windows of the
# tree in ROOT (default: this checkout); prints each run's figures and the load.
set -u
root=${ROOT:-$(cd "$(dirname "$0")/.." && pwd)}; cd $root
which=$1; n=${2:-20}
if [[ $which == windows ]]; then
  cmd=(cmake/wine-run.sh $root/build/windows/wineprefix $root/build/windows/korvex-receiver.exe)
else
  cmd=($root/build/linux/korvex-receiver)
fi
export KORVEX_PHONE_SIM=$root/build/linux/korvex-phone-sim
exec unshare --net --mount -- bash -c '
ip link set lo up; mount -t tmpfs tmpfs /dev/shm
pass=0
for i in $(seq '"$n"'); do
  out=$(python3 tests/integration/audio_whole_tone_test.py WholeTone.test_a_three_second_tone_arrives_whole -- "$@" 2>&1)
  rc=$?
  line=$(grep -m1 "^tone " <<<"$out")
  echo "run $i rc=$rc $line load $(cut -d" " -f1 /proc/loadavg)"
  [[ $rc == 0 ]] && pass=$((pass+1)) || echo "$out" | grep -v "^$|ResourceWarning|cleanups.pop|tracemalloc" | tail -12
done
echo "passed $pass of '"$n"'"
' bash "${cmd[@]}"
